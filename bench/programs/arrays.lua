-- Array loops: fill by index, a read-modify-write pass over neighbours, an ipairs walk, and a
-- copy in reverse that appends at #b + 1.
local function run(size, rounds)
  local total = 0
  for r = 1, rounds do
    local a = {}
    for i = 1, size do
      a[i] = (i * 7 + r) % 1000
    end
    for i = 2, size do
      a[i] = (a[i] + a[i - 1]) % 1000
    end
    for i, v in ipairs(a) do
      total = (total + v * i) % 1000003
    end
    local b = {}
    for i = #a, 1, -1 do
      b[#b + 1] = a[i]
    end
    total = (total + b[1] + b[size] + #b) % 1000003
  end
  return total
end

print(string.format("checksum: %d", run(10000, 100)))

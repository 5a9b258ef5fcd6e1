-- Array fill by index, then two walks: ipairs and pairs. The sums are taken modulo a prime after
-- every step, and addition modulo a prime does not depend on the walk order.
local function run(size, rounds)
  local total = 0
  for r = 1, rounds do
    local a = {}
    for i = 1, size do
      a[i] = (i * 7 + r) % 1000
    end
    for i, v in ipairs(a) do
      total = (total + v * i) % 1000003
    end
    for k, v in pairs(a) do
      total = (total + v + k) % 1000003
    end
    total = (total + #a) % 1000003
  end
  return total
end

local start = os.clock()
local result = run(10000, 60)
print(string.format("checksum: %d", result))
print(string.format("elapsed: %d", math.floor((os.clock() - start) * 1000 + 0.5)))

-- The table library on arrays: append with insert, one insert at the front, sort in the natural
-- order and with a comparison function, join with concat, and shrink with remove from both ends.
-- Every sampled value is an int, so the sorted orders (and the checksum) match CobaltScript's.
local function descending(x, y)
  return x > y
end

local function run(size, half, rounds)
  local total = 0
  for r = 1, rounds do
    local a = {}
    for i = 1, size do
      table.insert(a, (i * 7919 + r) % 10007)
    end
    table.insert(a, 1, r)
    table.sort(a)
    for i = 1, size, 97 do
      total = (total + a[i] * (i % 13 + 1)) % 1000003
    end
    local b = {}
    for i = 1, 2000 do
      b[i] = a[i * 3]
    end
    table.sort(b, descending)
    local joined = table.concat(b, ",")
    total = (total + b[1] + b[2000] * 3 + #joined) % 1000003
    for i = 1, half do
      total = (total + table.remove(a)) % 1000003
    end
    for i = 1, 200 do
      total = (total + table.remove(a, 1) * i) % 1000003
    end
    total = (total + #a) % 1000003
  end
  return total
end

local start = os.clock()
local result = run(20000, 10000, 20)
print(string.format("checksum: %d", result))
print(string.format("elapsed: %d", math.floor((os.clock() - start) * 1000 + 0.5)))

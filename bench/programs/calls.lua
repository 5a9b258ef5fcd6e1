-- Calls with several arguments: a three-argument function that calls a five-argument one.
local function combine(a, b, c, d, e)
  return (a + b * 2 + c * 3 + d * 4 + e * 5) % 1000003
end

local function step(x, y, z)
  return combine(x, y, z, x + 1, y + 2)
end

local function run(count)
  local acc = 0
  for i = 1, count do
    acc = step(acc, i % 1000, i % 7)
  end
  return acc
end

local start = os.clock()
local result = run(500000)
print(string.format("checksum: %d", result))
print(string.format("elapsed: %d", math.floor((os.clock() - start) * 1000 + 0.5)))

-- Calls with several arguments and results: a three-argument function calls a five-argument one
-- and a function that returns two values.
local function combine(a, b, c, d, e)
  return (a + b * 2 + c * 3 + d * 4 + e * 5) % 1000003
end

local function split(x)
  return x % 1000, x % 7
end

local function step(x, y, z)
  local p, q = split(y + z)
  return combine(x, y, z, p, q)
end

local function run(count)
  local acc = 0
  for i = 1, count do
    acc = step(acc, i % 1000, i % 7)
  end
  return acc
end

print(string.format("checksum: %d", run(1200000)))

-- Calls of the math library's numeric builtins (floor, sqrt, min, max, abs) inside int
-- arithmetic. Every float is well away from an integer boundary, so single and double
-- precision agree, and every intermediate int stays below 2^31.
local function run(n)
  local floor = math.floor
  local sqrt = math.sqrt
  local min = math.min
  local max = math.max
  local abs = math.abs
  local acc = 0
  for i = 1, n do
    local a = floor(i / 7) + floor(sqrt(i))
    local b = min(i % 101, i % 37, 50) + max(i % 13, i % 17) + abs(50 - i % 100)
    acc = (acc * 7 + a + b) % 1000003
  end
  return acc
end

local start = os.clock()
local result = run(600000)
print(string.format("checksum: %d", result))
print(string.format("elapsed: %d", math.floor((os.clock() - start) * 1000 + 0.5)))

-- Nested numeric for loops with integer arithmetic. Every intermediate value stays below 2^31,
-- so 32-bit and 64-bit integers (and doubles) agree.
local function run(outer, inner)
  local acc = 0
  for i = 1, outer do
    for j = 1, inner do
      local x = (i * j + i - j + inner) % 9973
      acc = (acc * 31 + x * 7 + j % 13) % 1000003
    end
  end
  return acc
end

local start = os.clock()
local result = run(1200, 1000)
print(string.format("checksum: %d", result))
print(string.format("elapsed: %d", math.floor((os.clock() - start) * 1000 + 0.5)))

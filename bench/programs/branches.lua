-- While loops with conditionals: greatest common divisors by repeated subtraction, then an
-- if/elseif/else classification of each result.
local function run(count)
  local steps = 0
  local kinds = 0
  local i = 1
  while i <= count do
    local a = i * 3 + 7
    local b = i % 97 + 5
    while a ~= b do
      if a > b then
        a = a - b
      else
        b = b - a
      end
      steps = steps + 1
    end
    if a == 1 then
      kinds = kinds + 1
    elseif a % 2 == 0 then
      kinds = kinds + 3
    else
      kinds = kinds + 7
    end
    i = i + 1
  end
  return (steps % 1000003 * 7 + kinds) % 1000003
end

local start = os.clock()
local result = run(6000)
print(string.format("checksum: %d", result))
print(string.format("elapsed: %d", math.floor((os.clock() - start) * 1000 + 0.5)))

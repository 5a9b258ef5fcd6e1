-- Integer arithmetic in loops: nested numeric for loops, a while loop with a branch (greatest
-- common divisors by subtraction) and an if/elseif/else chain. Every intermediate value stays
-- below 2^31 and `%` only sees non-negative operands, so 32-bit ints, 64-bit ints and doubles agree.
local function run(outer, inner)
  local acc = 0
  local kinds = 0
  for i = 1, outer do
    for j = 1, inner do
      local x = (i * j + i - j + inner) % 9973
      acc = (acc * 31 + x * 7 + j % 13) % 1000003
    end
    local a = i * 3 + 7
    local b = i % 97 + 5
    while a ~= b do
      if a > b then
        a = a - b
      else
        b = b - a
      end
      acc = acc + 1
    end
    if a == 1 then
      kinds = kinds + 1
    elseif a % 2 == 0 then
      kinds = kinds + 3
    else
      kinds = kinds + 7
    end
  end
  return (acc * 7 + kinds) % 1000003
end

print(string.format("checksum: %d", run(3000, 1000)))

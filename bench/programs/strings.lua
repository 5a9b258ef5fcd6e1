-- String building: repeated concatenation with numbers turned into text, parts joined with
-- table.concat, and the plain string library (format, sub, byte, rep, upper, len) on the results.
-- The checksum is made of lengths and bytes of what was built.
local function run(parts, rounds)
  local format = string.format
  local sub = string.sub
  local byte = string.byte
  local rep = string.rep
  local upper = string.upper
  local total = 0
  for r = 1, rounds do
    local s = ""
    for i = 1, parts do
      s = s .. "item" .. (i + r) .. ","
    end
    local pieces = {}
    for i = 1, parts do
      pieces[i] = format("%s=%05d/%x", "k" .. i, i * r % 100000, i + r)
    end
    local joined = table.concat(pieces, ";")
    local middle = sub(joined, r % 50 + 1, r % 50 + 40)
    local loud = upper(middle)
    local line = rep("ab", r % 9 + 1, "-")
    total = (total * 7 + #s + #joined + byte(middle, 5) + byte(loud, 7) + #line) % 1000003
  end
  return total
end

print(string.format("checksum: %d", run(800, 250)))

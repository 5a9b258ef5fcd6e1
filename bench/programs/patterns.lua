-- The string library with patterns on a bot's daily diet: find a number, pull a hashtag and a
-- key=value pair out, find a word literally, squeeze white space, upper-case, read a byte and split
-- into words, on one note many times over. The patterns mean the same in CobaltScript, so the
-- checksums agree.
local function run(rounds)
  local note = "@alice hello from Quill #bots see https://example.org/notes/9f3k2 order-42 at 12:30, key=val ok"
  local find = string.find
  local match = string.match
  local upper = string.upper
  local byte = string.byte
  local gmatch = string.gmatch
  local gsub = string.gsub
  local total = 0
  for r = 1, rounds do
    local a, b = find(note, "%d+", r % 40 + 1)
    local tag = match(note, "#(%a+)")
    local key, value = match(note, "(%a+)=(%a+)")
    local q, qEnd = find(note, "Quill", r % 18 + 1, true)
    local squeezed = gsub(note, "%s+", "_")
    local loud = upper(note)
    local words = {}
    for w in gmatch(note, "%a+") do words[#words + 1] = w end
    total = (total * 7 + a + b + q + qEnd + #tag + #key * 3 + #value + #squeezed + byte(loud, r % 90 + 1) + #words) % 1000003
  end
  return total
end

print(string.format("checksum: %d", run(30000)))

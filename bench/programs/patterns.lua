-- The string library on a bot's daily diet: find a number, pull a hashtag out, squeeze white
-- space, upper-case, read a byte and split into words, on one note many times over. The patterns
-- mean the same in CobaltScript, so the checksums agree.
local function run(rounds)
  local note = "@alice hello from Quill #bots see https://example.org/notes/9f3k2 order-42 at 12:30, key=val ok"
  local total = 0
  for r = 1, rounds do
    local a, b = string.find(note, "%d+", r % 40 + 1)
    local tag = string.match(note, "#(%a+)")
    local squeezed = string.gsub(note, "%s+", "_")
    local loud = string.upper(note)
    local words = {}
    for w in string.gmatch(note, "%a+") do words[#words + 1] = w end
    total = (total * 7 + a + b + #tag + #squeezed + string.byte(loud, r % 90 + 1) + #words) % 1000003
  end
  return total
end

local start = os.clock()
local result = run(40000)
print(string.format("checksum: %d", result))
print(string.format("elapsed: %d", math.floor((os.clock() - start) * 1000 + 0.5)))

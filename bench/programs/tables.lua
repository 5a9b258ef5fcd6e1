-- Table with string keys: insert, overwrite, look up present keys in a scattered order, and look
-- up keys that are not there.
local function run(size, rounds)
  local total = 0
  for r = 1, rounds do
    local t = {}
    for i = 1, size do
      t["key" .. i] = i + r
    end
    for i = 1, size, 3 do
      t["key" .. i] = i * 2
    end
    for i = 1, size do
      local v = t["key" .. (i * 7 % size + 1)]
      total = (total + v) % 1000003
    end
    local misses = 0
    for i = 1, size do
      if t["nokey" .. i] == nil then
        misses = misses + 1
      end
    end
    total = (total + misses) % 1000003
  end
  return total
end

print(string.format("checksum: %d", run(5000, 60)))

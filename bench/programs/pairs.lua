-- pairs iteration over tables with string keys: walk a 2000-entry table many times while one entry
-- changes per round, and walk small record tables. Hash order differs between the languages, so
-- every walk only feeds sums modulo a prime, which do not depend on the order.
local function run(size, rounds)
  local t = {}
  for i = 1, size do
    t["k" .. i] = i % 1000
  end
  local records = {}
  for i = 1, 50 do
    records[i] = {name = "user" .. i, notes = i * 3, follows = i % 17, active = i % 2}
  end
  local total = 0
  for r = 1, rounds do
    local count = 0
    for k, v in pairs(t) do
      total = (total + v * (r % 7 + 1) + #k) % 1000003
      count = count + 1
    end
    t["k" .. (r * 13 % size + 1)] = r % 1000
    for i = 1, 50 do
      for k, v in pairs(records[i]) do
        if k == "name" then
          total = (total + #v) % 1000003
        else
          total = (total + v * i) % 1000003
        end
      end
    end
    total = (total + count) % 1000003
  end
  return total
end

print(string.format("checksum: %d", run(2000, 900)))

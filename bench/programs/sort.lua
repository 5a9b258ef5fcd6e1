-- Sorting: ints and strings in their natural order, ints with a comparison function, and records
-- by two fields through a comparison function. Every order is total (no two elements compare
-- equal unless they are the same value), so a stable and an unstable sort give the same result.
local function descending(x, y)
  return x > y
end

local function byScoreThenId(x, y)
  if x.score ~= y.score then
    return x.score > y.score
  end
  return x.id < y.id
end

local function run(size, rounds)
  local sort = table.sort
  local total = 0
  for r = 1, rounds do
    local nums = {}
    for i = 1, size do
      nums[i] = (i * 7919 + r * 31) % 10007
    end
    sort(nums)
    for i = 1, size, 97 do
      total = (total + nums[i] * (i % 13 + 1)) % 1000003
    end
    for i = 1, size do
      nums[i] = (i * 4099 + r) % 10009
    end
    sort(nums, descending)
    for i = 1, size, 89 do
      total = (total + nums[i] * (i % 11 + 1)) % 1000003
    end
    local words = {}
    for i = 1, 3000 do
      words[i] = "w" .. (i * 37 + r) % 1009 .. "x" .. i % 7
    end
    sort(words)
    for i = 1, 3000, 31 do
      total = (total + #words[i] * i + string.byte(words[i], 3)) % 1000003
    end
    local recs = {}
    for i = 1, 3000 do
      recs[i] = {id = i, score = (i * 131 + r) % 97}
    end
    sort(recs, byScoreThenId)
    for i = 1, 3000, 29 do
      total = (total + recs[i].id * (i % 5 + 1) + recs[i].score) % 1000003
    end
  end
  return total
end

print(string.format("checksum: %d", run(10000, 9)))

-- Short-lived containers: every step makes and drops a small table, a small array and the
-- multivalue of a function that returns two values.
local function pair(a, b)
  return a + 1, b + 2
end

local function run(count)
  local total = 0
  for i = 1, count do
    local t = {x = i, y = i % 7}
    local a = {i % 1000, i % 5, 3}
    local p, q = pair(t["y"], a[2])
    total = (total + t["x"] % 1000 + a[1] + a[3] + p + q) % 1000003
  end
  return total
end

local start = os.clock()
local result = run(300000)
print(string.format("checksum: %d", result))
print(string.format("elapsed: %d", math.floor((os.clock() - start) * 1000 + 0.5)))

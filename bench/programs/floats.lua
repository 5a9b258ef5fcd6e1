-- Float arithmetic in a loop: a point that accelerates, bounces and wraps around, and its energy.
-- Every value is a multiple of 1/2048 with at most 19 significant bits, so it is exact in single
-- precision (CobaltScript) and in double precision (Lua) alike, and the floored checksum agrees
-- without any tolerance.
local function run(n)
  local floor = math.floor
  local x = 0.5
  local v = 0.25
  local acc = 0
  for i = 1, n do
    local a = (i % 17 - 8) * 0.0625
    v = v + a
    if v > 1.0 or v < -1.0 then
      v = -v
    end
    x = x + v * 0.5
    if x > 512.0 then
      x = x - 1024.0
    elseif x < -512.0 then
      x = x + 1024.0
    end
    local e = v * v * 0.5 + x / 64.0
    acc = (acc + floor(e * 128.0) + 2000) % 1000003
  end
  return acc
end

print(string.format("checksum: %d", run(2000000)))

-- Recursive Fibonacci: call overhead, one comparison and two subtractions per call.
local function fib(n)
  if n < 2 then
    return n
  end
  return fib(n - 1) + fib(n - 2)
end

local start = os.clock()
local result = fib(29)
print(string.format("checksum: %d", result))
print(string.format("elapsed: %d", math.floor((os.clock() - start) * 1000 + 0.5)))

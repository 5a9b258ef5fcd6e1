-- A coroutine workload: a producer coroutine fills a buffer while the main code consumes it, in
-- batches, each batch with a coroutine of its own. A CobaltScript coroutine (a decay function)
-- advances one statement after every instruction of the main code, so the consumer waits by
-- looping until the next value is there; the Lua version resumes its producer for every value.
-- Both consume the same values in the same order.
local buffer = {}

local function produce(batch, size)
  local x = batch
  for k = 1, size do
    x = (x * 75 + 74) % 65537
    buffer[k] = x
    coroutine.yield(k)
  end
end

local function run(batches, size)
  local total = 0
  for batch = 1, batches do
    local producer = coroutine.wrap(produce)
    local produced = producer(batch, size)
    local got = 0
    while got < size do
      if got >= produced then
        produced = producer()
      end
      got = got + 1
      total = (total + buffer[got] * (got % 7 + 1)) % 1000003
    end
  end
  return total
end

print(string.format("checksum: %d", run(300, 2000)))

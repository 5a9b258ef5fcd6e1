-- Object-like tables: records of fields and functions, with every method called through a field
-- and given its object first. Accounts are made, take deposits in a scattered order and are
-- scored; points are added and scaled, each step making a new short-lived point.
local function accountDeposit(self, amount)
  self.balance = (self.balance + amount) % 1000003
  self.ops = self.ops + 1
end

local function accountScore(self)
  return (self.balance * 3 + self.ops) % 1000003
end

local function newAccount(id)
  return {id = id, balance = id % 100, ops = 0, deposit = accountDeposit, score = accountScore}
end

local newPoint

local function pointAdd(self, other)
  return newPoint((self.x + other.x) % 10007, (self.y + other.y) % 10007)
end

local function pointScale(self, k)
  return newPoint(self.x * k % 10007, self.y * k % 10007)
end

newPoint = function(x, y)
  return {x = x, y = y, add = pointAdd, scale = pointScale}
end

local function run(count, rounds)
  local total = 0
  for r = 1, rounds do
    local accounts = {}
    for i = 1, count do
      accounts[i] = newAccount(i)
    end
    for i = 1, count * 3 do
      local account = accounts[(i * 7 + r) % count + 1]
      account:deposit(i % 50)
    end
    for i = 1, count do
      local account = accounts[i]
      total = (total + account:score()) % 1000003
    end
    local p = newPoint(r, 1)
    local step = newPoint(3, 5)
    for i = 1, count do
      p = p:add(step)
      if i % 8 == 0 then
        p = p:scale(3)
      end
    end
    total = (total + p.x * 7 + p.y) % 1000003
  end
  return total
end

print(string.format("checksum: %d", run(5000, 20)))

-- The three interpreter benchmark loops in Lua 5.4 (binary doubles).
-- lua5.4 loops.lua count|business|string N; prints ns per iteration
-- (processor time) and the loop's results.
local which, n = arg[1], tonumber(arg[2])
local t0, r = os.clock(), ""
if which == "count" then
  local i = 1
  while i <= n do i = i + 1 end
  r = string.format("i=%d", i)
elseif which == "for" then
  for _ = 1, n do end
elseif which == "business" then
  local price, qty, total, avg, sumavg = 12.34, 0, 0.0, 0.0, 0.0
  for i = 1, n do
    qty = qty + 1
    if qty > 1000 then qty = 1 end
    total = total + price * qty
    avg = math.floor(total / i * 100 + 0.5) / 100
    sumavg = sumavg + avg
  end
  r = string.format("total=%.2f avg=%.2f sumavg=%.2f", total, avg, sumavg)
elseif which == "string" then
  local a, b, c, t = "HELLO", "WORLD", 0, ""
  for _ = 1, n do
    t = a .. "-" .. b
    local u = t:sub(7, 11)
    if u == b then c = c + 1 end
  end
  r = string.format("t=%s count=%d", t, c)
end
local t1 = os.clock()
print(string.format("%s %.1f ns/iteration", which, (t1 - t0) * 1e9 / n))
print(r)

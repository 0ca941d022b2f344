"""The three interpreter benchmark loops in Python 3: the counting and the
business loop on the decimal module (precision 14, half-up), the string
loop on str.  python3 loops.py count|business|string N; prints ns per
iteration (processor time) and the loop's results."""
import sys
import time
from decimal import Decimal, getcontext, ROUND_HALF_UP

getcontext().prec = 14
getcontext().rounding = ROUND_HALF_UP
which, n = sys.argv[1], int(sys.argv[2])
t0 = time.process_time()
if which == "count":
    i, one, limit = Decimal(1), Decimal(1), Decimal(n)
    while i <= limit:
        i += one
    r = "i=%s" % i
elif which == "business":
    price, qty, total = Decimal("12.34"), Decimal(0), Decimal("0.00")
    avg, sumavg, cent = Decimal("0.00"), Decimal("0.00"), Decimal("0.01")
    one, top, i, limit = Decimal(1), Decimal(1000), Decimal(1), Decimal(n)
    while i <= limit:
        qty += one
        if qty > top:
            qty = one
        total += price * qty
        avg = (total / i).quantize(cent)
        sumavg += avg
        i += one
    r = "total=%s avg=%s sumavg=%s" % (total, avg, sumavg)
elif which == "string":
    a, b, c, t = "HELLO", "WORLD", 0, ""
    for _ in range(n):
        t = a + "-" + b
        u = t[6:11]
        if u == b:
            c += 1
    r = "t=%s count=%d" % (t, c)
t1 = time.process_time()
print("%s %.1f ns/iteration" % (which, (t1 - t0) * 1e9 / n))
print(r)

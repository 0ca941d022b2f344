; relrw.pasm: the number of random reads and rewrites typed, on a relative
; file ./bench_rel.rdw of 10,000 records of 100 bytes (made here when it is
; missing).  Each record is read with its lock and written back with lock
; option 0; the record numbers come from the generator x = x * 16807 mod
; (2^31 - 1), exact in 14 digits.
.pcode 16
.main RELRW
  num   n
  num   i
  num   x
  num   k
  str   rec(100)
  io    input
  push  n
  ionum
  ioend
  spush "./bench_rel"
  push  100
  push  10000
  spush "R"
  pusha made
  io    allocate, L, N, M, Q, B
  ioend
made:
  push  1
  spush "./bench_rel"
  spush "R"
  push  3
  io    open, A, L, Q, E
  ioend
  push  12345
  store x
next:
  push  x
  mul   16807
  rem   2147483647
  store x
  push  x
  rem   10000
  add   1
  store k
  push  1
  push  k
  spush "R"
  io    read, A, G, I
  spush rec
  iostr
  ioend
  push  1
  push  k
  spush "R"
  push  0
  io    write, A, G, I, H
  spush rec
  iostr
  ioend
  push  i
  add   1
  store i
  push  i
  lt    n
  jt    next
  push  1
  io    close, A
  ioend
  stop

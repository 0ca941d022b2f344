; seqw.pasm: writes the number of 100-byte records typed (lines of an
; unstructured file ./bench_seq, emptied first).
.pcode 16
.main SEQW
  num   n
  num   i
  str   rec(100)
  io    input
  push  n
  ionum
  ioend
  spush "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"
  sstore rec
  spush "./bench_seq"
  push  0
  spush "U"
  pusha made
  io    allocate, L, N, Q, B
  ioend
made:
  push  1
  spush "./bench_seq"
  spush "U"
  push  1
  io    open, A, L, Q, E
  ioend
next:
  push  1
  io    write, A
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

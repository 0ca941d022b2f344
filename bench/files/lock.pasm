; lock.pasm: the number of lock-and-release cycles typed on the records of
; ./bench_rel.rdw: a READ with the lock option, then UNLOCK.
.pcode 16
.main LOCK
  num   n
  num   i
  num   k
  io    input
  push  n
  ionum
  ioend
  push  1
  spush "./bench_rel"
  spush "R"
  push  3
  io    open, A, L, Q, E
  ioend
next:
  push  i
  rem   10000
  add   1
  store k
  push  1
  push  k
  spush "R"
  io    read, A, G, I
  ioend
  push  1
  io    unlock, A
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

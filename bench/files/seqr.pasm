; seqr.pasm: reads ./bench_seq back to its end and shows the count.
.pcode 16
.main SEQR
  num   n
  str   rec(100)
  push  1
  spush "./bench_seq"
  spush "U"
  io    open, A, L, Q
  ioend
next:
  push  1
  pusha done
  io    read, A, @
  spush rec
  iostr
  ioend
  push  n
  add   1
  store n
  jmp   next
done:
  io    print
  push  n
  ionum
  ioend
  stop

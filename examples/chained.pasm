; chained.pasm: the program that chain.pasm hands over to; prints the
; counter that chain.pasm left in the common area.
.pcode 16
.debug
.main CHAINED
  num   visits common 0
  io    print
  spush "chained: visits ="
  iostr
  push  visits
  ionum
  ioend
  stop

; chain.pasm: a plain chain.  Keeps a counter in the common area, where it
; survives the chain, and hands over to the program "chained" of unit 0.
.pcode 16
.debug
.main CHAIN
  num   visits common 0       ; absolute: the same place in every program
  push  visits
  add   1
  store visits
  io    print
  spush "chain: handing over"
  iostr
  ioend
  spush "chained"
  call  21, 1                 ; chain "chained"
  stop                        ; reached only when the chain fails

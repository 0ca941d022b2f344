; caller.pasm: a call with parameters.  Calls "callee" of unit 0 with a
; number and a string; the callee changes both and the caller prints the
; values it gets back.
.pcode 16
.debug
.main CALLER
  num   count
  vstr  name(20)
  push  41
  store count
  spush "before"
  sstore name
  spush "callee"              ; program name
  push  0                     ; unit
  push  count                 ; parameters, by reference
  spush name
  call  52, 4                 ; call with 4 - 2 = 2 parameters
  io    print
  push  count
  ionum
  spush " "
  iostr
  spush name
  iostr
  ioend
  stop

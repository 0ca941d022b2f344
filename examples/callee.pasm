; callee.pasm: called by caller.pasm with two parameters; its main routine
; takes them like a procedure and returns with ret.
.pcode 16
.debug
.main CALLEE()
  param num n
  param str s
  push  n
  add   1
  store n                     ; 42 back in the caller
  spush "after"
  sstore s
  ret

; note.pasm: the shared buffer.  Binds b to the buffer (an empty string
; while another process holds it: then it tries again), keeps what was
; there in seen, leaves "noted" in the buffer and writes it back.
.pcode 16
.debug
.main NOTE
  vstr  b(1)
  vstr  seen(200)
again:
  push  0
  spush b
  call  29, 2                 ; bind b to the buffer
  spush b
  seq   ""
  jt    again                 ; busy
  spush b
  sstore seen
  spush "noted"
  sstore b
  push  1
  call  29, 1                 ; write back
done:
  stop

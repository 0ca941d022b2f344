; relfile.pasm: a relative file of 24-byte records written by record
; number, one record read with its lock and rewritten, then all read back
; in order.  The file is ./reldemo.ray in the current directory (24 is
; "ay" in the record-length code); the last CLOSE deletes it.
.pcode 16
.debug
.main RELFILE
  num   i
  vstr  text(24)

  spush "./reldemo"
  push  24                    ; record length
  spush "R"
  pusha made
  io    allocate, L, N, Q, B
  ioend
made:
  push  1
  spush "./reldemo"
  spush "R"
  push  3                     ; option 3: read and write, shared, by number
  io    open, A, L, Q, E
  ioend
  push  3
  store i
fill:                         ; records 3, 2, 1 from the list
  spush text
  rdstr
  push  1
  push  i
  spush "R"
  io    write, A, G, I
  spush text
  iostr
  ioend
  push  i
  sub   1
  store i
  push  i
  gt    0
  jt    fill

  push  1                     ; record 2, locked, and written back changed
  push  2
  spush "R"
  io    read, A, G, I
  spush text
  iostr
  ioend
  push  1
  push  2
  spush "R"
  push  0                     ; lock option 0: let the record go
  io    write, A, G, I, H
  spush "second, rewritten"
  iostr
  ioend

  push  1
  io    rewind, A
  ioend
  push  0
  store i
again:
  push  1
  pusha eof
  push  0                     ; reading only: no lock
  io    read, A, @, H
  spush text
  iostr
  ioend
  push  i
  add   1
  store i
  io    print
  spush "record"
  iostr
  push  i
  ionum
  spush ": "
  iostr
  spush text
  iostr
  ioend
  jmp   again
eof:
  push  1
  push  1
  io    close, A, E           ; option 1: close and delete
  ioend
  stop
  .data "third", "second", "first"

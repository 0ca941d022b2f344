; seqfile.pasm: a sequential file written and read back.  ALLOCATE makes
; ./seqdemo.saa (counted records) in the current directory, OPEN with
; option 1 writes it from the start, a second OPEN reads it until the EOF
; label, and the last CLOSE (option 1) deletes it again.
.pcode 16
.debug
.main SEQFILE
  num   i
  num   n
  vstr  word(12)
  vstr  line(40)

  spush "./seqdemo"
  push  0                     ; N: no record length for a sequential file
  spush "S"
  pusha made                  ; an earlier run's file: use it
  io    allocate, L, N, Q, B
  ioend
made:
  push  1
  spush "./seqdemo"
  push  1                     ; option 1: write, from the start
  io    open, A, L, E
  ioend
  push  1
  store i
fill:                         ; record i: "record i: word"
  spush word
  rdstr
  push  1
  io    write, A
  spush "record"
  iostr
  push  i
  ionum
  spush ": "
  iostr
  spush word
  iostr
  ioend
  push  i
  add   1
  store i
  push  i
  le    5
  jt    fill
  push  1
  io    close, A
  ioend

  push  1
  spush "./seqdemo"
  io    open, A, L            ; option 0: read
  ioend
again:
  push  1
  pusha eof
  io    read, A, @
  spush line
  iostr
  ioend
  push  n
  add   1
  store n
  io    print
  spush line
  iostr
  ioend
  jmp   again
eof:
  push  1
  push  1
  io    close, A, E           ; option 1: close and delete
  ioend
  io    print
  push  n
  ionum
  spush " records"
  iostr
  ioend
  stop
  .data "alpha", "bravo", "charlie", "delta", "echo"

; idxw.pasm: the indexed-file workload run by run.  Reads the directory
; of the key lists (made by genkeys.py), loads the four lists, builds
; ./bench_idx (a primary key of 8, data of 92 with an alternate key with
; duplicates in its first 8 bytes), opens it with option 0 (shared, as a
; program for many users opens it) and runs the steps insert, read, scan,
; rewrite and delete.  "GO" starts a timed stretch, "STEP name count" ends
; one; a verification pass follows.  Run with M=20000 (the key lists take
; 4 MB).
.pcode 24
.main IDXW
  vstr  kdir(200)
  vstr  path(220)
  str   ins1(8, 50000)
  str   ins2(8, 50000)
  str   ins3(8, 50000)
  str   ins4(8, 50000)
  str   rd1(8, 50000)
  str   rd2(8, 50000)
  str   rd3(8, 50000)
  str   rd4(8, 50000)
  str   rw1(8, 50000)
  str   dl1(8, 50000)
  num   ci1
  num   ci2
  num   ci3
  num   ci4
  num   cr1
  num   cr2
  num   cr3
  num   cr4
  num   cw
  num   cd
  num   n
  num   sum
  num   alt7
  num   bad
  str   k(8)
  str   prev(8)
  str   alt(8)
  str   cnt(8)
  str   rest(76)
  num   knum
  push  4
  io    input, E
  push  kdir
  iostr
  ioend
  spush kdir
  scat  "/insert.keys"
  sstore path
  spush path
  call  OPENKEYS, 1
  push  ins1
  push  ci1
  call  LOAD, 2
  push  ins2
  push  ci2
  call  LOAD, 2
  push  ins3
  push  ci3
  call  LOAD, 2
  push  ins4
  push  ci4
  call  LOAD, 2
  spush kdir
  scat  "/read.keys"
  sstore path
  spush path
  call  OPENKEYS, 1
  push  rd1
  push  cr1
  call  LOAD, 2
  push  rd2
  push  cr2
  call  LOAD, 2
  push  rd3
  push  cr3
  call  LOAD, 2
  push  rd4
  push  cr4
  call  LOAD, 2
  spush kdir
  scat  "/rewrite.keys"
  sstore path
  spush path
  call  OPENKEYS, 1
  push  rw1
  push  cw
  call  LOAD, 2
  spush kdir
  scat  "/delete.keys"
  sstore path
  spush path
  call  OPENKEYS, 1
  push  dl1
  push  cd
  call  LOAD, 2
; the file, made anew with its alternate index
  push  1
  spush "./bench_idx"
  spush "I"
  push  2
  pusha fresh
  io    open, A, L, Q, E, B
  ioend
  push  1
  push  1
  io    close, A, E
  ioend
fresh:
  spush "./bench_idx"
  push  92
  push  8
  spush "I"
  io    allocate, L, N, O, Q
  ioend
  push  1
  spush "./bench_idx"
  spush "I"
  push  2
  io    open, A, L, Q, E
  ioend
  push  1
  push  8
  push  1
  push  1
  push  knum
  io    addindex, A, O, U, E, V
  ioend
  push  1
  io    close, A
  ioend
  push  1
  spush "./bench_idx"
  spush "I"
  push  0
  io    open, A, L, Q, E
  ioend
; insert
  call  GO, 0
  push  ins1
  push  ci1
  call  INS, 2
  push  ins2
  push  ci2
  call  INS, 2
  push  ins3
  push  ci3
  call  INS, 2
  push  ins4
  push  ci4
  call  INS, 2
  push  ci1
  add   ci2
  add   ci3
  add   ci4
  spush "insert"
  call  STEP, 2
  push  1
  io    close, A
  ioend
  push  1
  spush "./bench_idx"
  spush "I"
  push  0
  io    open, A, L, Q, E
  ioend
; read
  call  GO, 0
  push  rd1
  push  cr1
  call  RD, 2
  push  rd2
  push  cr2
  call  RD, 2
  push  rd3
  push  cr3
  call  RD, 2
  push  rd4
  push  cr4
  call  RD, 2
  push  cr1
  add   cr2
  add   cr3
  add   cr4
  spush "read"
  call  STEP, 2
; scan
  call  GO, 0
  push  0
  store n
  push  1
  io    rewind, A
  ioend
scan:
  push  1
  push  k
  push  0
  pusha scanned
  io    read, A, F, H, @
  push  alt
  iostr
  ioend
  push  n
  add   1
  store n
  jmp   scan
scanned:
  push  n
  spush "scan"
  call  STEP, 2
; rewrite
  call  GO, 0
  push  rw1
  push  cw
  call  RW, 2
  push  cw
  spush "rewrite"
  call  STEP, 2
; delete
  call  GO, 0
  push  dl1
  push  cd
  call  DL, 2
  push  cd
  spush "delete"
  call  STEP, 2
; verification: order, count, sum of the counters, alternate key 7
  push  0
  store n
  push  1
  io    rewind, A
  ioend
check:
  push  1
  push  k
  push  0
  pusha checked
  io    read, A, F, H, @
  push  alt
  iostr
  push  cnt
  iostr
  ioend
  spush k
  sle   prev
  jf    inorder
  push  bad
  add   1
  store bad
inorder:
  spush k
  sstore prev
  push  n
  add   1
  store n
  push  sum
  spush cnt
  ston
  add   *
  store sum
  jmp   check
checked:
  push  1
  push  knum
  io    rewind, A, V
  ioend
  spush "00000007"
  sstore alt
  push  1
  push  k
  spush "R"
  push  0
  pusha alts
  io    read, A, F, I, H, B
  push  alt
  iostr
  ioend
altnext:
  spush alt
  sne   "00000007"
  jt    alts
  push  alt7
  add   1
  store alt7
  push  1
  push  k
  push  0
  pusha alts
  io    read, A, F, H, @
  push  alt
  iostr
  ioend
  jmp   altnext
alts:
  push  1
  io    close, A
  ioend
  io    print
  spush "verify count"
  iostr
  push  n
  ionum
  spush " sumcnt"
  iostr
  push  sum
  ionum
  spush " alt007"
  iostr
  push  alt7
  ionum
  spush " order errors"
  iostr
  push  bad
  ionum
  ioend
  stop

; opens the key list at the path given on unit 2
.proc OPENKEYS
  param str p
  push  2
  pusha openkeys_fresh
  io    close, A, B
  ioend
openkeys_fresh:
  push  2
  spush p
  spush "U"
  io    open, A, L, Q
  ioend
  ret

; reads up to 50000 keys of unit 2 into keys; their count into c
.proc LOAD
  param str keys()
  param num c
  str   line(8)
  push  0
  store c
load_more:
  push  c
  ge    50000
  jt    load_full
  push  2
  pusha load_full
  io    read, A, @
  push  line
  iostr
  ioend
  push  c
  add   1
  store c
  push  1
  push  c
  spush line
  sstore keys(,)
  jmp   load_more
load_full:
  ret

.proc GO
  io    print
  spush "GO"
  iostr
  ioend
  ret

.proc STEP
  param num c
  param str s
  io    print
  spush "STEP "
  iostr
  spush s
  iostr
  push  c
  ionum
  ioend
  ret

; writes the records of the c keys: key, alternate key, counter 0 and the
; filler (the key nine times and its first four bytes), lock option 0
.proc INS
  param str keys()
  param num c
  num   i
  str   k(8)
  str   alt(8)
  push  1
  store i
ins_next:
  push  i
  gt    c
  jt    ins_done
  push  1
  push  i
  spush keys(,)
  sstore k
  push  6
  push  3
  ssub  k
  sstore alt
  spush "00000"
  scat  alt
  sstore alt
  push  1
  push  k
  push  0
  io    write, A, F, H
  push  alt
  iostr
  spush "00000000"
  iostr
  push  k
  iostr
  push  k
  iostr
  push  k
  iostr
  push  k
  iostr
  push  k
  iostr
  push  k
  iostr
  push  k
  iostr
  push  k
  iostr
  push  k
  iostr
  push  1
  push  4
  ssub  k
  iostr
  ioend
  push  i
  add   1
  store i
  jmp   ins_next
ins_done:
  ret

; reads the records of the c keys by key, without a lock, and checks the
; key read
.proc RD
  param str keys()
  param num c
  num   i
  str   k(8)
  str   want(8)
  str   rec(92)
  push  1
  store i
rd_next:
  push  i
  gt    c
  jt    rd_done
  push  1
  push  i
  spush keys(,)
  sstore want
  spush want
  sstore k
  push  1
  push  k
  spush "R"
  push  0
  io    read, A, F, I, H
  push  rec
  iostr
  ioend
  spush k
  sne   want
  jf    good
  stop
good:
  push  i
  add   1
  store i
  jmp   rd_next
rd_done:
  ret

; reads each record by key with its lock, adds 1 to its counter and
; writes it back, letting it go
.proc RW
  param str keys()
  param num c
  num   i
  str   k(8)
  str   alt(8)
  str   cnt(8)
  str   rest(76)
  vstr  t(20)
  push  1
  store i
rw_next:
  push  i
  gt    c
  jt    rw_done
  push  1
  push  i
  spush keys(,)
  sstore k
  push  1
  push  k
  spush "R"
  io    read, A, F, I
  push  alt
  iostr
  push  cnt
  iostr
  push  rest
  iostr
  ioend
  spush cnt
  ston
  add   100000001
  ntos
  sstore t
  push  2
  push  8
  ssub  t
  sstore cnt
  push  1
  spush "R"
  push  0
  io    write, A, I, H
  push  alt
  iostr
  push  cnt
  iostr
  push  rest
  iostr
  ioend
  push  i
  add   1
  store i
  jmp   rw_next
rw_done:
  ret

; deletes the records of the c keys: read by key with the lock, delete
.proc DL
  param str keys()
  param num c
  num   i
  str   k(8)
  push  1
  store i
dl_next:
  push  i
  gt    c
  jt    dl_done
  push  1
  push  i
  spush keys(,)
  sstore k
  push  1
  push  k
  spush "R"
  io    read, A, F, I
  ioend
  push  1
  io    delete, A
  ioend
  push  i
  add   1
  store i
  jmp   dl_next
dl_done:
  ret

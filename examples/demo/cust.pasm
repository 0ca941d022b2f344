; cust.pasm: customer maintenance.  The user types a customer number (or
; nothing, for a new customer) or finds a customer by name (F4), then
; changes the fields and saves (F2), deletes the customer (F3) or leaves
; it as it was (escape).
;
; A customer being changed is held under its record lock from the moment
; it is read until it is saved or let go.  Another user who reads it
; meanwhile sees its data with "in use by another user" and cannot change
; it; F5 reads it again, so that the second user goes on from the first
; one's saved change and neither change is lost.
;
; The name search reads the second index of the customer file (names, with
; duplicates) from the first name at or after what the user typed, one
; page of 14 at a time.
.pcode 16
.debug
.include "demo.inc"

.equ ROWS, 14                   ; customers on one page of the name list
.equ TOP, 7                     ; the row above the first one of the list

.main CUST()
  num   k
  num   e
  num   knum                    ; index number for REWIND
  num   n
  num   f                       ; the field being edited, 1 to 4
  num   held                    ; 1 while the record is ours to change
  num   isnew                   ; 1 for a customer not written yet
  num   got                     ; NEXTNAME: 1 when a customer was read
  num   busy                    ; NEXTNAME: 1 when it is in use elsewhere
  num   sel                     ; the row under the bar
  num   m                       ; rows on the page
  num   page                    ; the page shown, from 1
  num   i
  str   cno(6)
  str   cname(30)
  str   cstreet(30)
  str   ccity(30)
  str   cphone(16)
  vstr  inno(6)
  vstr  fname(30)
  vstr  t(80)
  str   rno(6, ROWS)
  str   rnm(30, ROWS)
  str   rct(24, ROWS)
  str   rbz(6, ROWS)
  open  U_CUST, "cust", 0, nofile

form:
  spush "Customers"
  call  FRAME, 1
  say   4, 4, "Customer no."
  say   4, 6, "Name"
  say   4, 7, "Street"
  say   4, 8, "City"
  say   4, 9, "Phone"
  msg   ""
ask:
  push  0
  store held
  push  0
  store isnew
  spush ""
  sstore cname
  spush ""
  sstore cstreet
  spush ""
  sstore ccity
  spush ""
  sstore cphone
  spush ""
  call  STATUS, 1
  gosub fields
  keys  " Enter read (empty: a new customer)  F4 Find by name  F10 Back"
  field inno, 19, 4, 6, 2
  onkey K_F10, leave
  onkey K_ESC, leave
  onkey K_F4, browse
  push  k
  eq    K_ENTER
  push  k
  eq    K_TAB
  or
  push  k
  eq    K_DOWN
  or
  jf.l  ask
  spush inno
  seq   ""
  jt.l  new
  spush inno                    ; six digits, with leading zeros
  call  19, 1
  spush M_NO
  call  1, 2
  sstore cno
  spush cno
  sstore inno

read:                           ; the customer cno, with its lock
  push  U_CUST
  push  cno
  spush "R"
  pusha rfail
  io    read, A, F, I, B
  push  cname
  iostr
  push  cstreet
  iostr
  push  ccity
  iostr
  push  cphone
  iostr
  ioend
  push  1
  store held
  spush ""
  call  STATUS, 1
  show  inno, 19, 4, 6
  gosub fields
  msg   ""
  jmp.l edit
rfail:
  ioerr e
  push  e
  eq    E_LOCKED
  jt    inuse
  push  e
  eq    E_NOTFOUND
  jf    ioerror
  spush "There is no customer "
  scat  cno
  call  MSG, 1
  jmp.l ask
inuse:                          ; the data came, the lock did not
  show  inno, 19, 4, 6
  gosub fields
  spush "in use by another user"
  call  STATUS, 1
  spush "Customer "
  scat  cno
  scat  " is being changed by process "
  spush "LKPID"
  call  62, 1
  scat  *
  scat  ": F5 tries again"
  call  MSG, 1
  keys  " F5 Try again  Esc Back"
wait:
  getkey k
  onkey K_F5, read
  onkey K_ESC, ask
  onkey K_F10, ask
  jmp   wait

new:
  push  1
  store isnew
  spush ""
  sstore cno
  spush "new customer"
  call  STATUS, 1
  msg   ""

edit:                           ; the four fields, until a key ends it
  keys  " F2 Save  F3 Delete  Esc Cancel  Enter next field  Up previous field"
  push  1
  store f
nextfield:
  push  f
  ongoto edit, fname1, fstreet, fcity, fphone
fname1:
  field cname, 19, 6, 30
  jmp   moved
fstreet:
  field cstreet, 19, 7, 30
  jmp   moved
fcity:
  field ccity, 19, 8, 30
  jmp   moved
fphone:
  field cphone, 19, 9, 16
moved:
  onkey K_F2, save
  onkey K_F3, delete
  onkey K_ESC, cancel
  onkey K_F10, cancel
  push  k
  eq    K_UP
  jt    up
  push  k
  eq    K_ENTER
  push  k
  eq    K_TAB
  or
  push  k
  eq    K_DOWN
  or
  jf    nextfield
  push  f
  rem   4
  add   1
  store f
  jmp   nextfield
up:
  push  f
  add   2
  rem   4
  add   1
  store f
  jmp   nextfield

save:
  spush cname
  call  48, 1
  seq   ""
  jf    named
  msg   "A customer needs a name"
  push  1
  store f
  jmp.l nextfield
named:
  push  isnew
  eq    1
  jt.l  add
  push  U_CUST                  ; rewrite the held record and let it go
  spush "R"
  push  0
  pusha ioerror
  io    write, A, I, H, B
  push  cname
  iostr
  push  cstreet
  iostr
  push  ccity
  iostr
  push  cphone
  iostr
  ioend
  spush "Customer "
  scat  cno
  scat  " saved"
  call  MSG, 1
  jmp.l ask

add:                            ; the number after the highest one
  push  1
  store knum
  push  U_CUST
  spush "P"
  push  knum
  io    rewind, A, I, V
  ioend
  push  100
  store n
  push  U_CUST
  push  cno
  spush "P"
  push  0
  pusha empty
  pusha lastin
  io    read, A, F, I, H, @, B
  ioend
lastin:                         ; 23 too: the number is all we need
  spush cno
  call  19, 1
  store n
empty:
  push  n
  add   1
  store n
  push  n
  spush M_NO
  call  1, 2
  sstore cno
  push  U_CUST
  push  cno
  push  0
  pusha addfail
  io    write, A, F, H, B
  push  cname
  iostr
  push  cstreet
  iostr
  push  ccity
  iostr
  push  cphone
  iostr
  ioend
  spush cno
  sstore inno
  spush "Customer "
  scat  cno
  scat  " added"
  call  MSG, 1
  jmp.l ask
addfail:                        ; another user took the number meanwhile
  ioerr e
  push  e
  eq    E_DUPLICATE
  jt    empty
  jmp.l ioerror

delete:
  push  isnew
  eq    1
  jt.l  nextfield
  spush "Delete customer "
  scat  cno
  scat  ", "
  spush cname
  call  48, 1
  scat  *
  scat  "?"
  call  CONFIRM, 1
  eq    1
  jf.l  nextfield
  push  U_CUST
  pusha ioerror
  io    delete, A, B
  ioend
  spush "Customer "
  scat  cno
  scat  " deleted"
  call  MSG, 1
  spush ""
  sstore inno
  jmp.l ask

cancel:
  push  held
  eq    1
  jf    cancelled
  unlock U_CUST
cancelled:
  msg   ""
  jmp.l ask

; ---- the name search ----------------------------------------------------
browse:
  call  BROWSE_FRAME, 0
  keys  " Enter list names from here  Esc Back"
  field fname, 16, 4, 30
  onkey K_ESC, endbrowse
  onkey K_F10, endbrowse
  push  k
  eq    K_ENTER
  jf    browse
  push  1
  store page
listpage:                       ; page `page` from the first name >= fname
  push  2
  store knum
  index U_CUST, knum
  spush fname
  sstore cname
  push  U_CUST
  push  cno
  spush "R"
  push  0
  pusha keyed
  io    read, A, F, I, H, B
  push  cname
  iostr
  push  cstreet
  iostr
  push  ccity
  iostr
  push  cphone
  iostr
  ioend
  jmp   back
keyed:
  ioerr e
  push  e
  eq    E_NOTFOUND
  jt    found                   ; placed before the next greater name
  push  e
  eq    E_LOCKED
  jf.l  ioerror
back:                           ; found: one step back, so that the next
  push  U_CUST                  ; forward read brings it
  push  cno
  spush "P"
  push  0
  pusha found
  pusha found
  io    read, A, F, I, H, @, B
  ioend
found:
  push  page
  sub   1
  mul   ROWS
  store i
skippage:
  push  i
  le    0
  jt    fillpage
  gosub nextname
  push  got
  eq    0
  jt    fillpage
  push  i
  sub   1
  store i
  jmp   skippage
fillpage:
  push  0
  store m
fillrow:
  push  m
  ge    ROWS
  jt    showpage
  gosub nextname
  push  got
  eq    0
  jt    showpage
  push  m
  add   1
  store m
  push  1
  push  m
  spush cno
  sstore rno(,)
  push  1
  push  m
  spush cname
  sstore rnm(,)
  push  1
  push  m
  spush ccity
  sstore rct(,)
  push  1
  push  m
  spush ""
  sstore rbz(,)
  push  busy
  eq    1
  jf    fillrow
  push  1
  push  m
  spush "in use"
  sstore rbz(,)
  jmp   fillrow
showpage:
  push  8
  push  21
  call  BLANK, 2
  push  1
  store sel
  push  m
  gt    0
  jt    rows
  msg   "No more names"
  push  page
  gt    1
  jf.l  browse
  push  page
  sub   1
  store page
  jmp.l listpage
rows:
  msg   ""
  keys  " Enter Change  Up/Down/Tab Move  PgDn Next page  PgUp Previous  Esc New search"
drawrows:
  push  1
  store i
drawrow:
  push  i
  eq    sel
  jf    normalrow
  attr  A_REV
normalrow:
  push  0
  io    print, C
  push  3
  push  TOP
  add   i
  call  3, 2
  iostr
  push  1
  push  i
  spush rno(,)
  iostr
  spush "  "
  iostr
  push  1
  push  i
  spush rnm(,)
  iostr
  spush "  "
  iostr
  push  1
  push  i
  spush rct(,)
  iostr
  spush "  "
  iostr
  push  1
  push  i
  spush rbz(,)
  iostr
  ioend
  attr  A_OFF
  push  i
  add   1
  store i
  push  i
  le    m
  jt    drawrow
  getkey k
  onkey K_ENTER, choose
  onkey K_ESC, browse
  onkey K_F10, endbrowse
  onkey K_PGDN, pagedown
  onkey K_PGUP, pageup
  push  k
  eq    K_UP
  jt    rowup
  push  k
  eq    K_DOWN
  push  k
  eq    K_TAB
  or
  jf    drawrows
  push  sel
  lt    m
  jf    pagedown
  push  sel
  add   1
  store sel
  jmp.l drawrows
rowup:
  push  sel
  gt    1
  jf    pageup
  push  sel
  sub   1
  store sel
  jmp.l drawrows
pagedown:
  push  m
  lt    ROWS
  jt.l  drawrows                ; the last page
  push  page
  add   1
  store page
  jmp.l listpage
pageup:
  push  page
  gt    1
  jf.l  drawrows
  push  page
  sub   1
  store page
  jmp.l listpage
choose:
  push  1
  push  sel
  spush rno(,)
  sstore cno
  spush cno
  sstore inno
  gosub primary
  jmp.l form2
endbrowse:
  gosub primary
  jmp.l form
form2:                          ; the form again, reading the chosen one
  spush "Customers"
  call  FRAME, 1
  say   4, 4, "Customer no."
  say   4, 6, "Name"
  say   4, 7, "Street"
  say   4, 8, "City"
  say   4, 9, "Phone"
  show  inno, 19, 4, 6
  jmp.l read

primary:                        ; back to the customer numbers
  push  1
  store knum
  index U_CUST, knum
  rets

; nextname: the next customer by name into cno, cname, ...; got 0 at the
; end.  A customer that another user holds comes with 23 and is marked
; busy; its next read would bring it again, so the unit is placed behind
; its name by a keyed read of the name with its last character raised.
nextname:
  push  0
  store busy
  push  1
  store got
  push  U_CUST
  push  cno
  push  0
  pusha eofname
  pusha lockname
  io    read, A, F, H, @, B
  push  cname
  iostr
  push  cstreet
  iostr
  push  ccity
  iostr
  push  cphone
  iostr
  ioend
  rets
eofname:
  push  0
  store got
  rets
lockname:
  ioerr e
  push  e
  eq    E_LOCKED
  jf.l  ioerror
  push  1
  store busy
  spush cname
  sstore t
  push  1                       ; the name with its last character raised
  push  29
  ssub  t()
  push  30
  push  1
  ssub  t()
  call  24, 1
  add   1
  call  9, 1
  scat  *
  sstore t
  push  U_CUST
  push  cno
  spush "R"
  push  0
  pusha behind
  io    read, A, F, I, H, B
  push  t
  iostr
  ioend
behind:
  rets

fields:                         ; the customer's fields as they are
  show  cname, 19, 6, 30
  show  cstreet, 19, 7, 30
  show  ccity, 19, 8, 30
  show  cphone, 19, 9, 16
  rets

ioerror:
  ioerr e
  spush "The customer file reports error "
  push  e
  ntos
  scat  *
  call  MSG, 1
  jmp.l ask
nofile:
  msg   "The customer file cannot be opened"
  getkey k
leave:
  close U_CUST
  ret

; BROWSE_FRAME(): the screen of the name search
.proc BROWSE_FRAME
  spush "Customers by name"
  call  FRAME, 1
  say   4, 4, "Find name"
  hline 5
  say   3, 6, "No.     Name                            City"
  ret

; STATUS(text): the state of the customer, beside its number
.proc STATUS
  param str text
  str   line(40)
  spush text
  sstore line
  at    30, 4
  attr  A_BOLD
  out   line
  attr  A_OFF
  ret

.include "lib.inc"

; report.pasm: the orders report.  Every order in the order of its number,
; with its customer, date, net amount, VAT and total, and the totals of all
; of them, printed on printer LP1 of the demo's defaults file (entry
; "demo": its first line, ESC P 1, names that printer; bold headings and
; totals, underlined column titles through attribute lines).  The user
; chooses where it goes: the pager on the screen (printer mode 3, the
; default), a file (mode 6; a name ending in lp1 also names LP1) or the
; spooler (mode 2).
;
; An order that another user is entering is locked: the report shows it as
; "being entered" and leaves it out of the totals.
.pcode 16
.debug
.include "demo.inc"

.macro orderitems               ; the items of an order record
  push  ocust
  iostr
  push  odate
  iostr
  push  net
  ionum
  push  vat
  ionum
  push  gross
  ionum
  push  nlines
  ionum
.endm

.main REPORT()
  num   k
  num   e
  num   f                       ; the field: 1 the choice, 2 the file name
  num   mode                    ; printer mode
  num   got                     ; NEXTORDER: 1 when an order was read
  num   busy                    ; NEXTORDER: 1 when it is being entered
  num   lastbusy                ; the order read before was busy
  num   count
  num   skipped
  num   net
  num   vat
  num   gross
  num   tnet
  num   tvat
  num   tgross
  num   nlines
  str   ono(6)
  str   ocust(6)
  str   odate(8)
  str   cname(18)
  str   name30(30)
  str   cstreet(30)
  str   ccity(30)
  str   cphone(16)
  str   c18(18)
  vstr  choice(1)
  vstr  fname(40)
  vstr  line(100)
  vstr  where(60)
  vstr  note(80)                ; the message of the last report
  open  U_CUST, "cust", 1, nofile
  open  U_ORD, "orders", 1, nofile
  spush "1"
  sstore choice
  spush "report.lp1"
  sstore fname

form:
  spush "Orders report"
  call  FRAME, 1
  say   4, 4, "Every order with its customer, net amount, VAT and total."
  say   4, 6, "Print to"
  say   17, 6, "1  the screen (pager)"
  say   17, 7, "2  the file"
  say   17, 8, "3  the spooler"
  say   4, 10, "Choice"
  say   4, 11, "File name"
  show  fname, 17, 11, 40
  keys  " F2 Print  Enter next field  F10 Back"
  spush note                    ; after the pager: what it showed
  call  MSG, 1
  spush ""
  sstore note
  push  1
  store f
field:
  push  f
  ongoto field, fchoice, ffile
fchoice:
  field choice, 17, 10, 1, 2
  jmp   key
ffile:
  field fname, 17, 11, 40
key:
  onkey K_F2, print
  onkey K_F10, leave
  onkey K_ESC, leave
  push  k
  eq    K_UP
  push  k
  eq    K_ENTER
  or
  push  k
  eq    K_TAB
  or
  push  k
  eq    K_DOWN
  or
  jf    field
  push  f
  rem   2
  add   1
  store f
  jmp   field

print:
  spush choice
  call  19, 1
  ongoto badchoice, pager, file, spooler
badchoice:
  msg   "Choose 1, 2 or 3"
  push  1
  store f
  jmp.l field
pager:
  push  3
  store mode
  spush "the pager"
  sstore where
  jmp   open
file:
  spush fname
  call  48, 1
  seq   ""
  jf    named
  msg   "The file needs a name"
  push  2
  store f
  jmp.l field
named:
  push  6
  store mode
  spush fname
  call  48, 1
  sstore where
  jmp   open
spooler:
  push  2
  store mode
  spush "the spooler"
  sstore where
open:
  msg   "Printing..."
  push  U_PRN
  push  mode
  spush fname
  pusha prnfail
  io    open, A, E, L, B
  ioend
  push  0
  store count
  push  0
  store skipped
  push  0
  store tnet
  push  0
  store tvat
  push  0
  store tgross
  push  0
  store lastbusy
  spush "\eP1,N"                ; printer LP1, no form feeds
  sstore line
  gosub emit
  spush "Quillon Demo: orders                                                "
  call  TODAY, 0
  call  DDATE, 1
  scat  *
  scat  "@@"                    ; an attribute line follows
  sstore line
  gosub emit
  spush "B"
  push  78
  call  47, 2
  sstore line
  gosub emit
  spush ""
  sstore line
  gosub emit
  spush "Order   Date        Customer                         Net        VAT      Total@@"
  sstore line
  gosub emit
  spush "U"
  push  78
  call  47, 2
  sstore line
  gosub emit
  push  U_ORD                   ; from the first order number on
  spush "S"
  io    rewind, A, I
  ioend
each:
  gosub nextorder
  push  got
  eq    0
  jt.l  totals
  push  U_CUST                  ; the customer's name
  push  ocust
  spush "R"
  push  0
  pusha noname
  io    read, A, F, I, H, B
  push  name30
  iostr
  push  cstreet
  iostr
  push  ccity
  iostr
  push  cphone
  iostr
  ioend
  spush name30
  sstore cname
  jmp   named2
noname:
  ioerr e
  push  e
  eq    E_LOCKED
  jt    named2
  spush "(no such customer)"
  sstore cname
named2:
  spush ono
  scat  "  "
  spush odate
  call  DDATE, 1
  scat  *
  scat  "  "
  scat  ocust
  scat  " "
  scat  cname
  push  busy
  eq    1
  jt    inentry
  push  count
  add   1
  store count
  push  tnet
  add   net
  store tnet
  push  tvat
  add   vat
  store tvat
  push  tgross
  add   gross
  store tgross
  push  net
  spush " ZZZ,ZZ9.V99"
  call  1, 2
  scat  *
  push  vat
  spush " ZZZ,ZZ9.V99"
  call  1, 2
  scat  *
  push  gross
  spush " ZZZ,ZZ9.V99"
  call  1, 2
  scat  *
  sstore line
  gosub emit
  jmp.l each
inentry:
  scat  "           being entered"
  sstore line
  gosub emit
  push  skipped
  add   1
  store skipped
  jmp.l each

totals:
  spush ""
  sstore line
  gosub emit
  spush "Total of "
  push  count
  ntos
  scat  *
  scat  " orders"
  sstore line
  spush line
  sstore c18                    ; 46 characters up to the amounts
  spush c18
  scat  "                           "
  push  tnet
  spush " ZZZ,ZZ9.V99"
  call  1, 2
  scat  *
  push  tvat
  spush " ZZZ,ZZ9.V99"
  call  1, 2
  scat  *
  push  tgross
  spush " ZZZ,ZZ9.V99"
  call  1, 2
  scat  *
  scat  "@@"
  sstore line
  gosub emit
  spush "B"
  push  78
  call  47, 2
  sstore line
  gosub emit
  push  skipped
  eq    0
  jt    closeprn
  push  skipped
  ntos
  scat  " order(s) being entered, not counted"
  sstore line
  gosub emit
closeprn:
  push  U_PRN
  pusha prnfail
  io    close, A, B
  ioend
  spush "Report of "
  push  count
  ntos
  scat  *
  scat  " orders, total "
  push  tgross
  spush M_AMOUNT
  call  1, 2
  push  1
  call  54, 2
  scat  *
  scat  ", printed to "
  scat  where
  sstore note
  push  mode
  eq    3
  jt.l  form                    ; the form again, after the pager
  spush note
  call  MSG, 1
  spush ""
  sstore note
  jmp.l field

; emit: writes line as one print line
emit:
  push  U_PRN
  pusha prnfail
  io    write, A, B
  push  line
  iostr
  ioend
  rets

; nextorder: the next order into ono, ocust, odate, net, vat, gross; got 0
; at the end.  An order being entered comes with 23 (busy); a forward read
; would bring it again, so the next call first reads the number after it.
nextorder:
  push  1
  store got
  push  0
  store busy
  push  lastbusy
  eq    1
  jf    forward
  push  0
  store lastbusy
  spush ono
  call  19, 1
  add   1
  spush M_NO
  call  1, 2
  sstore ono
  push  U_ORD
  push  ono
  spush "R"
  push  0
  spush ORD_FMT
  pusha afterbusy
  io    read, A, F, I, H, R, B
  orderitems
  ioend
  rets                          ; the next number is an order
afterbusy:
  ioerr e
  push  e
  eq    E_NOTFOUND              ; placed before the next greater number
  jt    forward
  push  e
  eq    E_LOCKED
  jf.l  prnioerr
  jmp   isbusy
forward:
  push  U_ORD
  push  ono
  push  0
  spush ORD_FMT
  pusha endorders
  pusha readbusy
  io    read, A, F, H, R, @, B
  orderitems
  ioend
  rets
readbusy:
  ioerr e
  push  e
  eq    E_LOCKED
  jf.l  prnioerr
isbusy:
  push  1
  store busy
  push  1
  store lastbusy
  rets
endorders:
  push  0
  store got
  rets
prnioerr:
  ioerr e
  spush "The order file reports error "
  push  e
  ntos
  scat  *
  call  MSG, 1
  push  U_PRN
  io    close, A
  ioend
  jmp.l field
prnfail:
  ioerr e
  spush "The printer cannot be used: error "
  push  e
  ntos
  scat  *
  call  MSG, 1
  jmp.l field
nofile:
  msg   "The data files cannot be opened"
  getkey k
leave:
  close U_CUST
  close U_ORD
  ret

.include "lib.inc"

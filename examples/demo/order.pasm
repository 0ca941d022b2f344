; order.pasm: order entry.  The user names the customer; the order then
; gets its number and its header, and every line the user completes is
; written at once, all inside one transaction of the order files: F2 saves
; the order (its totals go into the header, then COMMIT), escape abandons
; it (ROLLBACK: neither the header nor a line remains).  Other users never
; see half an order, and two users entering orders at the same time get
; different numbers: a number taken meanwhile is a duplicate key, and the
; next one is tried.
;
; A line: description, quantity and unit price; its amount is quantity
; times price, rounded to the cent.  The VAT is the rate of the setting
; DEMO_VAT on the net total, rounded to the cent.
.pcode 16
.debug
.include "demo.inc"

.equ MAXLINES, 10               ; lines of one order (one screen)
.equ LINE0, 7                   ; the row above the first line

.main ORDER()
  num   k
  num   e
  num   knum
  num   n
  num   f                       ; the field of the line, 1 to 3
  num   nlines                  ; lines written
  num   row
  num   qty
  num   price
  num   amount
  num   net
  num   vat
  num   gross
  str   cno(6)
  str   cname(30)
  str   cstreet(30)
  str   ccity(30)
  str   cphone(16)
  str   ono(6)
  str   odate(8)
  str   lkey(9)
  str   s6(6)
  vstr  icust(6)
  vstr  desc(30)
  vstr  iqty(8)
  vstr  iprice(10)
  vstr  date(10)
  open  U_CUST, "cust", 1, nofile
  open  U_ORD, "orders", 0, nofile
  open  U_LINE, "olines", 0, nofile

form:
  spush "Order entry"
  call  FRAME, 1
  say   3, 3, "Order no."
  say   30, 3, "Date"
  say   3, 4, "Customer"
  hline 6
  say   3, 7, "Pos  Description                     Quantity        Price       Amount"
  hline 18
  say   50, 19, "Net"
  say   50, 20, "VAT"
  say   50, 21, "Total"
  push  0
  io    print, C
  push  53
  push  20
  call  3, 2
  iostr
  call  VATRATE, 0
  ionum
  spush "%"
  iostr
  ioend
newcustomer:
  keys  " Enter the customer's number  F10 Back"
askcustomer:
  field icust, 14, 4, 6, 2
  onkey K_F10, leave
  onkey K_ESC, leave
  push  k
  eq    K_ENTER
  push  k
  eq    K_TAB
  or
  jf    askcustomer
  spush icust
  call  19, 1
  spush M_NO
  call  1, 2
  sstore cno
  spush cno
  sstore icust
  push  U_CUST
  push  cno
  spush "R"
  push  0
  pusha nocustomer
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
  jmp   begin
nocustomer:
  ioerr e
  push  e
  eq    E_LOCKED                ; being changed: its data came all the same
  jt    begin
  spush "There is no customer "
  scat  cno
  call  MSG, 1
  jmp   askcustomer

begin:                          ; the order's transaction starts
  show  icust, 14, 4, 6
  say   22, 4, cname
  push  0
  io    print, C
  push  22
  push  5
  call  3, 2
  iostr
  spush cstreet
  call  48, 1
  iostr
  spush ", "
  iostr
  spush ccity
  call  48, 1
  iostr
  ioend
  msg   ""
  push  U_ORD
  push  U_LINE
  pusha txfail
  io    begin, A, A, B
  ioend
  call  TODAY, 0
  sstore odate
  push  1                       ; the number after the highest one
  store knum
  push  U_ORD
  spush "P"
  push  knum
  io    rewind, A, I, V
  ioend
  push  500
  store n
  push  U_ORD
  push  ono
  spush "P"
  push  0
  pusha firstorder
  pusha lastorder
  io    read, A, F, I, H, @, B
  ioend
lastorder:
  spush ono
  call  19, 1
  store n
firstorder:
  push  n
  add   1
  store n
  push  n
  spush M_NO
  call  1, 2
  sstore ono
  push  0
  store net
  push  0
  store nlines
  gosub header
  push  e                       ; a number taken meanwhile: the next one
  eq    E_DUPLICATE
  jt    firstorder
  push  e
  eq    0
  jf.l  ioerror
  say   14, 3, ono
  call  TODAY, 0
  call  DDATE, 1
  sstore date
  say   36, 3, date
  gosub totals

newline:                        ; the next line of the order
  push  nlines
  ge    MAXLINES
  jf    roomy
  msg   "An order takes at most 10 lines: F2 saves it, Esc abandons it"
full:
  getkey k
  onkey K_F2, save
  onkey K_ESC, abandon
  jmp   full
roomy:
  keys  " F2 Save order  Esc Abandon order  Enter next field  Up previous field"
  push  LINE0
  add   nlines
  add   1
  store row
  push  0
  io    print, C
  push  3
  push  row
  call  3, 2
  iostr
  push  nlines
  add   1
  spush M_POS
  call  1, 2
  iostr
  ioend
  spush ""
  sstore desc
  spush ""
  sstore iqty
  spush ""
  sstore iprice
  show  iqty, 40, row, 8
  show  iprice, 51, row, 10
  push  1
  store f
linefield:
  push  f
  ongoto newline, fdesc, fqty, fprice
fdesc:
  field desc, 8, row, 30
  jmp   linekey
fqty:
  field iqty, 40, row, 8, 1
  jmp   linekey
fprice:
  field iprice, 51, row, 10, 1
linekey:
  onkey K_F2, save
  onkey K_ESC, abandon
  push  k
  eq    K_UP
  jt    prevfield
  push  k
  eq    K_ENTER
  push  k
  eq    K_TAB
  or
  push  k
  eq    K_DOWN
  or
  jf    linefield
  push  f
  eq    1                       ; an empty description ends the lines
  jf    notfirst
  spush desc
  call  48, 1
  seq   ""
  jf    notfirst
  msg   "F2 saves the order, Esc abandons it"
  jmp   linefield
notfirst:
  push  f
  lt    3
  jf    complete
  push  f
  add   1
  store f
  jmp   linefield
prevfield:
  push  f
  gt    1
  jf    linefield
  push  f
  sub   1
  store f
  jmp.l linefield

complete:                       ; check the line, write it, show it
  spush desc
  call  48, 1
  seq   ""
  jf    described
  msg   "A line needs a description"
  push  1
  store f
  jmp.l linefield
described:
  spush iqty
  call  19, 1
  store qty
  push  qty
  gt    0
  jt    counted
  msg   "Enter a quantity above 0, such as 12 or 2.5"
  push  2
  store f
  jmp.l linefield
counted:
  spush iprice
  call  19, 1
  store price
  push  price
  gt    0
  jt    priced
  msg   "Enter a unit price above 0, such as 18.50"
  push  3
  store f
  jmp.l linefield
priced:
  push  qty
  mul   price
  call  ROUND2, 1
  store amount
  spush ono
  push  nlines
  add   1
  spush "999"
  call  1, 2
  scat  *
  sstore lkey
  push  U_LINE
  push  lkey
  push  0
  spush LINE_FMT
  pusha ioerror
  io    write, A, F, H, R, B
  push  desc
  iostr
  push  qty
  ionum
  push  price
  ionum
  push  amount
  ionum
  ioend
  push  nlines
  add   1
  store nlines
  push  net
  add   amount
  store net
  show  desc, 8, row, 30
  edited 40, row, qty, M_QTY
  edited 51, row, price, M_AMOUNT
  edited 64, row, amount, M_AMOUNT
  gosub totals
  msg   ""
  jmp.l newline

save:                           ; totals into the header, then COMMIT
  push  nlines
  gt    0
  jt    haslines
  msg   "An order needs at least one line"
  jmp.l linefield
haslines:
  push  U_ORD
  push  ono
  spush "R"
  pusha ioerror
  io    read, A, F, I, B
  push  s6
  iostr
  ioend
  push  U_ORD
  spush "R"
  push  0
  spush ORD_FMT
  pusha ioerror
  io    write, A, I, H, R, B
  push  cno
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
  ioend
  pusha txfail
  io    commit, B
  ioend
  spush "Order "
  scat  ono
  scat  " saved: "
  push  nlines
  ntos
  scat  *
  scat  " line"
  push  nlines
  eq    1
  jt    one
  scat  "s"
one:
  scat  ", total "
  push  gross
  spush M_AMOUNT
  call  1, 2
  push  1
  call  54, 2
  scat  *
  call  MSG, 1
  jmp   again

abandon:
  spush "Abandon order "
  scat  ono
  scat  "?"
  call  CONFIRM, 1
  eq    1
  jt    rollback
  push  nlines
  ge    MAXLINES
  jt.l  full
  jmp.l linefield
rollback:
  pusha txfail
  io    rollback, B
  ioend
  spush "Order "
  scat  ono
  scat  " abandoned"
  call  MSG, 1
again:                          ; the form empty for the next order
  spush ""
  sstore icust
  say   14, 3, "      "
  say   36, 3, "          "
  say   22, 4, "                              "
  push  5
  push  5
  call  BLANK, 2
  push  8                       ; the rows of the lines
  push  17
  call  BLANK, 2
  push  0
  store net
  gosub totals
  jmp.l newcustomer

; header: writes the order's header with the totals so far; e the error
header:
  push  0
  store e
  push  net
  call  VAT, 1
  store vat
  push  net
  add   vat
  store gross
  push  U_ORD
  push  ono
  push  0
  spush ORD_FMT
  pusha headfail
  io    write, A, F, H, R, B
  push  cno
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
  ioend
  rets
headfail:
  ioerr e
  rets

; totals: net, VAT and total on the screen
totals:
  push  net
  call  VAT, 1
  store vat
  push  net
  add   vat
  store gross
  edited 64, 19, net, M_AMOUNT
  edited 64, 20, vat, M_AMOUNT
  attr  A_BOLD
  edited 64, 21, gross, M_AMOUNT
  attr  A_OFF
  rets

txfail:
  ioerr e
  spush "The transaction failed with error "
  push  e
  ntos
  scat  *
  call  MSG, 1
  getkey k
  jmp   leave
ioerror:
  ioerr e
  spush "The order files report error "
  push  e
  ntos
  scat  *
  scat  "; the order is abandoned"
  call  MSG, 1
  pusha leave
  io    rollback, B
  ioend
  getkey k
  jmp   leave
nofile:
  msg   "The order files cannot be opened"
  getkey k
leave:
  close U_CUST
  close U_ORD
  close U_LINE
  ret

.include "lib.inc"

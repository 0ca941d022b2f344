; setup.pasm: the sample data of the demo, made on its first start.  The
; menu calls it every time; when the customer file is there it returns at
; once.  Otherwise it creates the three indexed files of the data folder
; (demo.inc describes them), adds their second indexes, and fills them with
; twelve customers (two with the same name) and two orders.
.pcode 16
.debug
.include "demo.inc"

.main SETUP()
  num   k
  num   e
  num   knum
  num   n
  num   i
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
  str   desc(30)
  open  U_CUST, "cust", 1, missing
  close U_CUST
  ret
missing:
  ioerr e
  push  e
  eq    9
  jt    create
  msg   "The customer file cannot be opened: see the error number below"
  push  e
  raise
create:
  msg   "First start: making the sample data..."
  spush "cust"
  push  CUST_LEN
  push  6
  spush "I"
  push  DIR
  pusha another
  io    allocate, L, N, O, Q, J, B
  ioend
  spush "orders"
  push  ORD_LEN
  push  6
  spush "I"
  push  DIR
  io    allocate, L, N, O, Q, J
  ioend
  spush "olines"
  push  LINE_LEN
  push  9
  spush "I"
  push  DIR
  io    allocate, L, N, O, Q, J
  ioend
  open  U_CUST, "cust", 2, fail
  open  U_ORD, "orders", 2, fail
  open  U_LINE, "olines", 2, fail
  push  U_CUST                  ; the names, with duplicates
  push  30
  push  1
  push  1
  push  knum
  io    addindex, A, O, U, E, V
  ioend
  push  U_ORD                   ; the customers of the orders
  push  6
  push  1
  push  1
  push  knum
  io    addindex, A, O, U, E, V
  ioend
customer:
  spush cno
  rdstr
  spush cno
  call  48, 1
  seq   "END"
  jt    orders
  spush cname
  rdstr
  spush cstreet
  rdstr
  spush ccity
  rdstr
  spush cphone
  rdstr
  push  U_CUST
  push  cno
  push  0
  io    write, A, F, H
  push  cname
  iostr
  push  cstreet
  iostr
  push  ccity
  iostr
  push  cphone
  iostr
  ioend
  jmp   customer
  .data "000101", "Adler Bakery", "12 Mill Lane", "Bristol", "0117 496 0101"
  .data "000102", "Baker & Sons", "4 Station Road", "Leeds", "0113 496 0102"
  .data "000103", "Chen Trading", "88 Harbour Street", "Liverpool", "0151 496 0103"
  .data "000104", "Delgado Imports", "7 Quay Side", "Hull", "01482 496 104"
  .data "000105", "Evans Hardware", "230 High Street", "Cardiff", "029 2018 0105"
  .data "000106", "Fischer GmbH", "Hafenstrasse 9", "Hamburg", "+49 40 555 106"
  .data "000107", "Baker & Sons", "19 Market Place", "York", "01904 496 107"
  .data "000108", "Garcia Foods", "3 Dock Road", "Southampton", "023 8049 6108"
  .data "000109", "Hansen Marine", "Kajgade 2", "Aarhus", "+45 86 55 0109"
  .data "000110", "Ito Electronics", "5 Canal Walk", "Manchester", "0161 496 0110"
  .data "000111", "Jones Stationery", "61 Church Street", "Bath", "01225 496 111"
  .data "000112", "Kowalski Tools", "14 Forge Lane", "Sheffield", "0114 496 0112"
  .data "END"
orders:
  spush ono                     ; number, customer, date, line count
  rdstr
  spush ono
  call  48, 1
  seq   "END"
  jt.l  done
  spush cno
  rdstr
  spush odate
  rdstr
  push  n
  rdnum
  push  0
  store net
  push  1
  store i
line:
  spush desc
  rdstr
  push  qty
  rdnum
  push  price
  rdnum
  push  qty
  mul   price
  store amount
  push  net
  add   amount
  store net
  spush ono
  push  i
  spush "999"
  call  1, 2
  scat  *
  sstore lkey
  push  U_LINE
  push  lkey
  push  0
  spush LINE_FMT
  io    write, A, F, H, R
  push  desc
  iostr
  push  qty
  ionum
  push  price
  ionum
  push  amount
  ionum
  ioend
  push  i
  add   1
  store i
  push  i
  le    n
  jt    line
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
  io    write, A, F, H, R
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
  push  n
  ionum
  ioend
  jmp.l orders
  .data "000501", "000101", "20261201", 2
  .data "Flour type 550, 25 kg", 10, 18.5, "Dry yeast, 500 g", 12, 2.35
  .data "000502", "000103", "20261203", 3
  .data "Jasmine rice, 10 kg", 20, 14.9, "Soy sauce, 1 l", 24, 3.2
  .data "Sesame oil, 500 ml", 6, 4.75
  .data "END"
done:
  close U_CUST
  close U_ORD
  close U_LINE
  msg   ""
  ret
another:                        ; 7: another user makes them this moment
  ioerr e
  push  e
  eq    7
  jf    fail
  msg   "Another user is making the sample data..."
  push  3000
  call  39, 1
  ret
fail:
  msg   "The new data files cannot be opened: see the error number below"
  ioerr e
  push  e
  raise

.include "lib.inc"

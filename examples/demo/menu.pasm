; menu.pasm: the main menu of the Quillon demo, the program quillon-demo
; starts.  It has the sample data made on the first start (the program
; setup), then offers the three parts of the application; each is a
; program of its own, called with return.  Keys: F1 to F3 choose a part
; at once, 1 to 3 as well; the arrow keys or tab move the bar and Enter
; takes the part under it; F10 or escape end the demo.
.pcode 16
.debug
.include "demo.inc"

.main MENU
  num   k
  num   sel                     ; the item under the bar, 1 to 4
  spush "setup"
  push  PROGS
  call  52, 2
  push  1
  store sel
draw:
  spush "Main menu"
  call  FRAME, 1
  at    24, 6
  push  0
  io    print, C
  push  57
  push  14
  call  51, 2
  iostr
  ioend
  say   29, 16, "Choose a part of the application"
  keys  " F1 Customers  F2 Order entry  F3 Orders report  Enter choose  F10 Exit"
  msg   ""
moved:
  push  sel
  call  ITEMS, 1
next:
  getkey k
  onkey K_F1, cust
  onkey 49, cust                ; 1
  onkey K_F2, order
  onkey 50, order               ; 2
  onkey K_F3, report
  onkey 51, report              ; 3
  onkey K_F10, quit
  onkey K_ESC, quit
  onkey K_DOWN, down
  onkey K_TAB, down
  onkey K_UP, up
  onkey K_ENTER, choose
  jmp   next
down:
  push  sel
  rem   4
  add   1
  store sel
  jmp.l moved
up:
  push  sel
  add   2
  rem   4
  add   1
  store sel
  jmp.l moved
choose:
  push  sel
  ongoto next, cust, order, report, quit
cust:
  push  1
  store sel
  spush "cust"
  push  PROGS
  call  52, 2
  jmp.l draw
order:
  push  2
  store sel
  spush "order"
  push  PROGS
  call  52, 2
  jmp.l draw
report:
  push  3
  store sel
  spush "report"
  push  PROGS
  call  52, 2
  jmp.l draw
quit:
  out   CLS
  stop

; ITEMS(sel): the four items of the menu, the bar on item sel
.proc ITEMS
  param num sel
  num   i
  push  1
  store i
item:
  push  i
  eq    sel
  jf    plain
  attr  A_REV
plain:
  push  i
  ongoto shown, one, two, three, four
one:
  say   26, 8, "  F1   Customers             "
  jmp   shown
two:
  say   26, 9, "  F2   Order entry           "
  jmp   shown
three:
  say   26, 10, "  F3   Orders report         "
  jmp   shown
four:
  say   26, 12, "  F10  Exit                  "
shown:
  attr  A_OFF
  push  i
  add   1
  store i
  push  i
  le    4
  jt    item
  ret

.include "lib.inc"

; arith.pasm: arithmetic and strings.  Computes a price with tax, builds a
; line of text from pieces and prints both.
;   PRICE = 12.5 * 4;  TAX = PRICE * 0.19;  TOTAL = PRICE + TAX
;   LINE$ = "Total: " + STR$(TOTAL);  PRINT LINE$;  PRINT LEFT$(NAME$, 4)
.pcode 16
.debug
.main ARITH
  num   price
  num   tax
  num   total
  str   name(12)              ; padded to 12 characters
  vstr  line(60)              ; variable length, up to 60

  push  12.5
  mul   4
  store price                 ; price = 50
  push  price
  mul   0.19
  store tax                   ; tax = 9.5
  push  price
  add   tax
  store total                 ; total = 59.5
  spush "Quillon Ltd"
  sstore name
  spush "Total: "
  push  total
  ntos                        ; number to text
  scat  *                     ; "Total: " + text
  sstore line
  io    print
  spush line
  iostr
  ioend
  io    print
  push  1                     ; from position 1
  push  4                     ; length, popped first
  ssub  name()                ; the first four characters of name
  iostr
  ioend
  stop

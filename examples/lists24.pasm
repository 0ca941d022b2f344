; lists24.pasm: 24-bit p-code with wide operand numbers: DATA lists read
; in a counting loop, a subroutine, and an error handler that catches a
; raised error.
.pcode 24
.flags 1
.debug
.main LISTS
  num   i
  num   n
  num   sum
  vstr  word(10)
  str   words(10, 3)          ; three padded strings of 10

  trap                        ; arm the handler: it follows the long jump
  jmp.l start
handler:
  io    print
  spush "error trapped"
  iostr
  ioend
  untrap
  stop
start:
  push  1                     ; first test without a step
  push  3                     ; limit
  push  1                     ; step
next:
  loop  i                     ; for i = 1 to 3
  jf    done
  push  n
  rdnum                       ; read n
  spush word
  rdstr                       ; read word$
  push  sum
  add   n
  store sum
  gosub show
  push  0                     ; later tests add the step first
  push  3
  push  1
  jmp   next
done:
  push  200
  raise                       ; error 200 goes to the handler
  stop
show:
  io    print
  spush word
  iostr
  push  sum
  ionum
  ioend
  rets
  .data 10, "ten", 20.5, "twenty", -7, "minus"

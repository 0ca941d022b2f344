; procs.pasm: procedures with parameters.  AREA is a function of two
; numbers; SCALE changes its array argument in place; the main routine
; calls both and prints the results.
.pcode 16
.debug
.main PROCS
  num   w
  num   h
  num   a
  num   v(3)
  num   i

  push  3
  store w
  push  4.5
  store h
  push  w                     ; arguments by reference
  push  h
  call  AREA, 2               ; leaves the function result
  store a                     ; a = 13.5
  push  1
  store i
fill:                         ; v(i) = i * 10 for i = 1 to 3
  push  i                     ; the subscript first, then the value
  push  i
  mul   10
  store v()
  push  i
  add   1
  store i
  push  i
  le    3
  jt    fill
  push  v
  push  2
  call  SCALE, 2              ; v(i) = v(i) * 2
  io    print
  push  a
  ionum
  push  2
  push  v()
  ionum
  ioend
  stop

.proc AREA                    ; AREA(x, y) = x * y
  param num x
  param num y
  push  x
  mul   y
  ret

.proc SCALE                   ; SCALE(arr(), k): arr(1..3) times k
  param num arr()
  param num k
  num   j
  push  1
  store j
again:
  push  j                     ; subscript of the assignment
  push  j
  push  arr()
  mul   k
  store arr()
  push  j
  add   1
  store j
  push  j
  le    3
  jt    again
  ret

; sortpipe.pasm: a child program with both pipes.  Starts sort, writes two
; lines to it, closes its input, reads what it wrote back and waits for
; it: out = "apple\npear\n", st = its exit code (0).
.pcode 16
.debug
.main SORTPIPE
  vstr  slot(1)
  vstr  out(100)
  vstr  st(1)
  spush "SP3"
  spush slot
  spush "/usr/bin/sort"
  call  28, 3                 ; slot = the child's slot
  spush "WP"
  spush slot
  spush "pear\napple\n"
  call  28, 3                 ; to its input
  spush "WP"
  spush slot
  spush ""
  call  28, 3                 ; its input ends: sort writes
  spush "RP"
  spush slot
  spush out
  push  100
  call  28, 4                 ; out = what it wrote
  spush "TP1"
  spush slot
  spush st
  call  28, 3                 ; st = its exit code
done:
  stop

#!/bin/sh
# layers.sh NM LIB... : the static libraries, bottom first, must call only
# downwards.  Fails, naming the object and the symbol, when a library
# refers to a symbol that only a library later in the list defines.
set -eu
nm=$1
shift
[ $# -gt 0 ] || { echo "usage: layers.sh NM LIB..." >&2; exit 2; }
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
i=0
for lib in "$@"; do
  i=$((i + 1))
  [ -r "$lib" ] || { echo "layers.sh: cannot read $lib" >&2; exit 2; }
  # "archive:member: value type name", or "archive:member: type name" for U
  "$nm" -A -g "$lib" | awk -v layer="$i" -v lib="$(basename "$lib")" '
    { n = NF; type = $(n - 1); sym = $n; obj = $1
      sub(/:$/, "", obj); sub(/^.*:/, "", obj)
      if (type == "U") print "U", layer, lib, obj, sym
      else if (type ~ /^[TDBRGSu]$/) print "D", layer, lib, obj, sym }' >>"$tmp"
done
# a strong definition in the lowest library wins; a reference is wrong
# when the symbol's lowest definition is in a later library
awk '
  $1 == "D" && (!($5 in at) || $2 < at[$5]) { at[$5] = $2; lib[$5] = $3 }
  $1 == "U" { n++; ul[n] = $2; ulib[n] = $3; uobj[n] = $4; usym[n] = $5 }
  END {
    bad = 0
    for (k = 1; k <= n; k++) {
      s = usym[k]
      if ((s in at) && at[s] > ul[k]) {
        printf "%s (%s) calls up into %s: %s\n", ulib[k], uobj[k], lib[s], s
        bad++
      }
    }
    if (bad) { printf "%d references against the order of the libraries\n", bad; exit 1 }
  }' "$tmp"

# peers.cmake: detection of the systems the benchmarks compare with.
#
# A peer is found by its header and its library (or, for a program, by the
# program itself).  A benchmark, or the part of it that needs a missing
# peer, is left out with one configure-time message; nothing of the tests
# depends on a peer.  QUILLON_PEERS=OFF turns detection off, so that a build
# shows what a machine without any peer gets.
option(QUILLON_PEERS "Detect the benchmark peers (SQLite, Berkeley DB, Lua, ...)" ON)

# quillon_peer(VAR NAME HEADER LIBRARY PACKAGE): VAR is true and VAR_LIB the
# library when both are found.
function(quillon_peer var name header library package)
  set(${var} FALSE PARENT_SCOPE)
  if(NOT QUILLON_PEERS)
    message(STATUS "benchmark peer ${name}: detection off (QUILLON_PEERS=OFF), left out")
    return()
  endif()
  find_path(${var}_INCLUDE ${header})
  find_library(${var}_LIBRARY ${library})
  if(${var}_INCLUDE AND ${var}_LIBRARY)
    set(${var} TRUE PARENT_SCOPE)
    set(${var}_LIB ${${var}_LIBRARY} PARENT_SCOPE)
  else()
    message(STATUS "benchmark peer ${name}: ${header} or lib${library} not found "
                   "(Debian package ${package}), left out")
  endif()
endfunction()

# quillon_peer_program(VAR NAME PROGRAM PACKAGE): VAR is the program's path
# when found, else false.
function(quillon_peer_program var name program package)
  set(${var} FALSE PARENT_SCOPE)
  if(NOT QUILLON_PEERS)
    message(STATUS "benchmark peer ${name}: detection off (QUILLON_PEERS=OFF), left out")
    return()
  endif()
  find_program(${var}_PROGRAM ${program})
  if(${var}_PROGRAM)
    set(${var} ${${var}_PROGRAM} PARENT_SCOPE)
  else()
    message(STATUS "benchmark peer ${name}: program ${program} not found "
                   "(Debian package ${package}), left out")
  endif()
endfunction()

# Keyboard maps: arbitrary bytes as the VXMAP file.  The reader is
# compiled into the target itself, so that libFuzzer sees its coverage
# (the libraries are not instrumented).
quillon_fuzz(kmap_reader_fuzz
             SOURCES ${PROJECT_SOURCE_DIR}/tests/kmap/kmap_fuzz.cpp
                     ${PROJECT_SOURCE_DIR}/run/terminal/kmap.cpp
             LIBS run_startup)

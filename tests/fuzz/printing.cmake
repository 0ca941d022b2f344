# Printer entries and terminal maps: arbitrary bytes as the defaults file.
# The parser and the file reader are compiled into the target itself, so
# that libFuzzer sees their coverage (the libraries are not instrumented).
quillon_fuzz(printing_lcap_fuzz
             SOURCES ${PROJECT_SOURCE_DIR}/tests/printing/lcap_fuzz.cpp
                     ${PROJECT_SOURCE_DIR}/run/terminal/lcap.cpp
                     ${PROJECT_SOURCE_DIR}/run/config/defaults.cpp
             LIBS run_startup)

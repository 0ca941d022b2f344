# The pattern compiler and matcher on arbitrary patterns and subjects.
quillon_fuzz(numeric_zregex_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/numeric/zregex_fuzz.cpp
             LIBS run_startup)

# Decimal arithmetic against its digit-level reference.
quillon_fuzz(numeric_zmath_fuzz
             SOURCES ${PROJECT_SOURCE_DIR}/tests/numeric/zmath_fuzz.cpp
                     ${PROJECT_SOURCE_DIR}/tests/numeric/zmath_ref.cpp
             LIBS run_startup)

# Decimal arithmetic against its digit-level reference.
find_package(PkgConfig REQUIRED)
pkg_check_modules(NCURSES REQUIRED IMPORTED_TARGET ncurses)
quillon_fuzz(numeric_zmath_fuzz
             SOURCES ${PROJECT_SOURCE_DIR}/tests/numeric/zmath_fuzz.cpp
                     ${PROJECT_SOURCE_DIR}/tests/numeric/zmath_ref.cpp
             LIBS run_startup run_loader run_interp run_numeric run_terminal run_process
                  run_files isam PkgConfig::NCURSES)

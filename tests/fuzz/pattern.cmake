# The pattern compiler and matcher on arbitrary patterns and subjects.
find_package(PkgConfig REQUIRED)
pkg_check_modules(NCURSES REQUIRED IMPORTED_TARGET ncurses)
quillon_fuzz(numeric_zregex_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/numeric/zregex_fuzz.cpp
             LIBS run_startup run_loader run_interp run_numeric run_terminal run_process
                  run_files isam PkgConfig::NCURSES)

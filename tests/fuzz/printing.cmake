# Printer entries and terminal maps: arbitrary bytes as the defaults file.
find_package(PkgConfig REQUIRED)
pkg_check_modules(NCURSES REQUIRED IMPORTED_TARGET ncurses)
quillon_fuzz(printing_lcap_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/printing/lcap_fuzz.cpp
             LIBS run_startup run_loader run_interp run_numeric run_terminal run_process
                  run_files isam PkgConfig::NCURSES)

# Program files: the loader and the disassembler fed arbitrary bytes.
find_package(PkgConfig REQUIRED)
pkg_check_modules(NCURSES REQUIRED IMPORTED_TARGET ncurses)
quillon_fuzz(loader_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/loader_fuzz.cpp
             LIBS run_startup run_loader run_interp run_numeric run_terminal run_process
                  run_files isam PkgConfig::NCURSES)
quillon_fuzz(pdis_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/pdis_fuzz.cpp LIBS ptools)

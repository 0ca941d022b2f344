# The dispatch loop on arbitrary programs read by the real loader.
find_package(PkgConfig REQUIRED)
pkg_check_modules(INTERP_NCURSES REQUIRED IMPORTED_TARGET ncurses)
quillon_fuzz(interp_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/interp/interp_fuzz.cpp
             LIBS run_interp run_numeric run_startup run_loader run_terminal run_process
                  run_files isam PkgConfig::INTERP_NCURSES)

# Edit masks and the record format language on arbitrary bytes.
find_package(PkgConfig REQUIRED)
pkg_check_modules(NCURSES REQUIRED IMPORTED_TARGET ncurses)
quillon_fuzz(numeric_edit_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/numeric/edit_fuzz.cpp
             LIBS run_startup run_loader run_interp run_numeric run_terminal run_process
                  run_files isam PkgConfig::NCURSES)
quillon_fuzz(numeric_record_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/numeric/record_fuzz.cpp
             LIBS run_startup run_loader run_interp run_numeric run_terminal run_process
                  run_files isam PkgConfig::NCURSES)

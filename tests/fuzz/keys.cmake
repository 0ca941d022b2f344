# The key recogniser fed random key tables and byte streams.
find_package(PkgConfig REQUIRED)
pkg_check_modules(NCURSES REQUIRED IMPORTED_TARGET ncurses)
quillon_fuzz(keys_recognition_fuzz
             SOURCES ${PROJECT_SOURCE_DIR}/tests/keys/keys_fuzz.cpp
             LIBS run_startup run_loader run_interp run_numeric run_terminal run_process
                  run_files isam PkgConfig::NCURSES)

# The screen control language fed arbitrary bytes on several terminal types.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SCREEN_NCURSES REQUIRED IMPORTED_TARGET ncurses)
quillon_fuzz(screen_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/terminal/screen_fuzz.cpp
                                 ${PROJECT_SOURCE_DIR}/tests/terminal/drive.cpp
             LIBS ptyharness run_startup run_loader run_interp run_numeric run_terminal
                  run_process run_files isam PkgConfig::SCREEN_NCURSES util)

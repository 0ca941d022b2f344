# The screen control language fed arbitrary bytes on several terminal types.
quillon_fuzz(screen_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/terminal/screen_fuzz.cpp
                                 ${PROJECT_SOURCE_DIR}/tests/terminal/drive.cpp
             LIBS ptyharness run_startup util)

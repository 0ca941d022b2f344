# Program files: the loader and the disassembler fed arbitrary bytes.
quillon_fuzz(loader_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/loader_fuzz.cpp
             LIBS run_startup)
quillon_fuzz(pdis_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/pdis_fuzz.cpp LIBS ptools)

# The ISAM engine on file pairs of arbitrary content.
quillon_fuzz(isam_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/isam/fuzz_open.cpp LIBS isam)

# The dispatch loop on arbitrary programs read by the real loader.
quillon_fuzz(interp_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/interp/interp_fuzz.cpp
             LIBS run_startup)

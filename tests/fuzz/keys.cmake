# The key recogniser fed random key tables and byte streams.
quillon_fuzz(keys_recognition_fuzz
             SOURCES ${PROJECT_SOURCE_DIR}/tests/keys/keys_fuzz.cpp
             LIBS run_startup)

# Edit masks and the record format language on arbitrary bytes.
quillon_fuzz(numeric_edit_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/numeric/edit_fuzz.cpp
             LIBS run_startup)
quillon_fuzz(numeric_record_fuzz SOURCES ${PROJECT_SOURCE_DIR}/tests/numeric/record_fuzz.cpp
             LIBS run_startup)

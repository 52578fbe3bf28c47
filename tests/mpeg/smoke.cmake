vesperon_add_test(NAME mpeg_smoke_tests LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/bit_reader_test.cpp LIBS vesperon_mpeg)

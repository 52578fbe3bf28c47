vesperon_add_test(NAME mpeg_synthesis_tests LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/synthesis_test.cpp LIBS vesperon_mpeg)

vesperon_add_test(NAME mpeg_parse_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/parse_test.cpp ${CMAKE_CURRENT_LIST_DIR}/parse_source_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/parse_real_files_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)

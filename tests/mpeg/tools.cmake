vesperon_add_test(NAME mpeg_tools_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tools_test.cpp
  LIBS vesperon_test_support)
add_dependencies(mpeg_tools_tests vesperon-decode vesperon-cipher)

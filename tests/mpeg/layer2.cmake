vesperon_add_test(NAME layer2_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/layer2_test.cpp
  LIBS vesperon_mpeg)

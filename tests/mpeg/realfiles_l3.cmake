vesperon_add_test(NAME realfiles_l3_tests LABELS conformance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/realfiles_l3_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)

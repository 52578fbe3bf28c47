vesperon_add_test(NAME mpeg_robustness_tests LABELS conformance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/robustness_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)

vesperon_add_test(NAME loudness_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/loudness_test.cpp
  LIBS vesperon_loudness vesperon_pipeline vesperon_test_support)

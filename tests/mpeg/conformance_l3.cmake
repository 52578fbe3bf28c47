vesperon_add_test(NAME conformance_l3_tests LABELS conformance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/conformance_l3_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)

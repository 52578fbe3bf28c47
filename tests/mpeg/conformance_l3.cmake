# One test judges every stream and prints one table; under the sanitizers (Debug) it takes minutes.
vesperon_add_test(NAME conformance_l3_tests LABELS conformance TIMEOUT 900
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/conformance_l3_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)

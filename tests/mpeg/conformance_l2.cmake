vesperon_add_test(NAME conformance_l2_tests LABELS conformance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/conformance_l2_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)
vesperon_add_test(NAME conformance_l2_peer_tests LABELS conformance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/conformance_l2_peer_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)
vesperon_add_test(NAME conformance_l2_damaged_tests LABELS conformance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/conformance_l2_damaged_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)

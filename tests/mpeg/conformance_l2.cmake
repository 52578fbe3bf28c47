vesperon_add_test(NAME conformance_l2_tests LABELS conformance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/conformance_l2_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)
if(TARGET vesperon-decode)
  add_dependencies(conformance_l2_tests vesperon-decode)
  target_compile_definitions(conformance_l2_tests PRIVATE VESPERON_DECODE_TOOL="$<TARGET_FILE:vesperon-decode>")
endif()
vesperon_add_test(NAME conformance_l2_peer_tests LABELS conformance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/conformance_l2_peer_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)
vesperon_add_test(NAME conformance_l2_damaged_tests LABELS conformance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/conformance_l2_damaged_test.cpp
  LIBS vesperon_mpeg vesperon_test_support)

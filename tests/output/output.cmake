vesperon_add_test(NAME output_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/output_test.cpp
  LIBS vesperon_output vesperon_port vesperon_test_support)
vesperon_add_test(NAME output_alsa_e2e_tests LABELS e2e TIMEOUT 120
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/alsa_e2e_test.cpp
  LIBS vesperon_player vesperon_test_support)
add_dependencies(output_alsa_e2e_tests vesperon-decode)

vesperon_add_test(NAME loudness_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/loudness_test.cpp
  LIBS vesperon_loudness vesperon_pipeline vesperon_test_support)
vesperon_add_test(NAME loudness_e2e_tests LABELS e2e TIMEOUT 300
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/loudness_e2e_test.cpp
  LIBS vesperon_loudness vesperon_player vesperon_test_support)

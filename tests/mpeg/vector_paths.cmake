vesperon_add_test(NAME mpeg_vector_paths_tests LABELS conformance
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/vector_paths_test.cpp LIBS vesperon_mpeg)

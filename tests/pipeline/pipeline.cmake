vesperon_add_test(NAME pipeline_ring_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stream_ring_test.cpp
  LIBS vesperon_pipeline)
vesperon_add_test(NAME pipeline_renderer_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/renderer_test.cpp
  LIBS vesperon_pipeline vesperon_test_support)

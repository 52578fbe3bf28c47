vesperon_add_test(NAME mpeg_layer3_tests LABELS unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/layer3_test.cpp LIBS vesperon_mpeg vesperon_test_support)

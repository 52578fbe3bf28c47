vesperon_add_test(NAME layout_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/layout_main_window_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/layout_loader_test.cpp
  LIBS vesperon_layout)

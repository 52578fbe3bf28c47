vesperon_add_test(NAME skin_painter_tests LABELS unit OWN_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/painter_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
  LIBS vesperon_skin vesperon_ui vesperon_test_support
  ENV QT_QPA_PLATFORM=offscreen)
vesperon_add_test(NAME skin_widget_tests LABELS gui OWN_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/skin_widget_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
  LIBS vesperon_skin vesperon_ui vesperon_test_support Qt6::Test
  ENV QT_QPA_PLATFORM=offscreen)

vesperon_add_test(NAME skin_painter_tests LABELS unit OWN_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/painter_test.cpp ${CMAKE_CURRENT_LIST_DIR}/gui_test_main.cpp
  LIBS vesperon_skin
  ENV QT_QPA_PLATFORM=offscreen)
vesperon_add_test(NAME skin_widget_tests LABELS gui OWN_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/skin_widget_test.cpp ${CMAKE_CURRENT_LIST_DIR}/widget_test_main.cpp
  LIBS vesperon_skin Qt6::Test
  ENV QT_QPA_PLATFORM=offscreen)

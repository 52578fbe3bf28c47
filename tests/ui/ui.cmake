vesperon_add_test(NAME ui_widget_tests LABELS gui OWN_MAIN
  SOURCES ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
          ${CMAKE_CURRENT_LIST_DIR}/widget_properties_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/widget_events_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/edit_box_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/handle_registry_test.cpp
  LIBS vesperon_ui vesperon_test_support Qt6::Test
  ENV QT_QPA_PLATFORM=offscreen)
vesperon_add_test(NAME ui_main_window_tests LABELS gui OWN_MAIN
  SOURCES ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
          ${CMAKE_CURRENT_LIST_DIR}/main_window_test.cpp
  LIBS vesperon_ui vesperon_test_support Qt6::Test
  ENV QT_QPA_PLATFORM=offscreen)
# The test runs both programs.
add_dependencies(ui_main_window_tests vesperon-screenshot vesperon)
vesperon_add_test(NAME ui_x11_tests LABELS e2e OWN_MAIN TIMEOUT 120
  SOURCES ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp ${CMAKE_CURRENT_LIST_DIR}/x11_input_test.cpp
  LIBS vesperon_ui vesperon_test_support Qt6::Test
  ENV QT_QPA_PLATFORM=xcb)

# The week in the window: the period days menu, a row's look, the rest-days dialog.
vesperon_add_test(NAME desktop_week_test LABELS gui OWN_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/period_days_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
  LIBS vesperon_desktop vesperon_skin vesperon_test_support Qt6::Test
  ENV QT_QPA_PLATFORM=offscreen)

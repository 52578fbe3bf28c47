# The skin on the real main window, once the window framework is part of the build.
if(TARGET vesperon_ui)
  vesperon_add_test(NAME skin_main_window_tests LABELS gui OWN_MAIN
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_window_skin_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
    LIBS vesperon_skin vesperon_ui vesperon_test_support Qt6::Test
    ENV QT_QPA_PLATFORM=offscreen)
endif()

# The week's schedule and the play log: no window, no player.
if(TARGET vesperon_app)
  vesperon_add_test(NAME app_week_unit_tests LABELS unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/week_schedule_test.cpp ${CMAKE_CURRENT_LIST_DIR}/play_log_test.cpp
    LIBS vesperon_app vesperon_test_support)
endif()

# The week's schedule and the play log: pure, built from their sources.
if(TARGET vesperon_app)
  vesperon_add_test(NAME app_week_unit_tests LABELS unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/week_schedule_test.cpp ${CMAKE_CURRENT_LIST_DIR}/play_log_test.cpp
      ${PROJECT_SOURCE_DIR}/app/week_schedule.cpp ${PROJECT_SOURCE_DIR}/app/schedule_box.cpp
      ${PROJECT_SOURCE_DIR}/app/play_log.cpp
    LIBS Qt6::Core vesperon_test_support)
endif()

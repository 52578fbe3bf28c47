# The session file, the command line and the tick phase: no window, no sound.
if(TARGET vesperon_app)
  vesperon_add_test(NAME app_session_unit_tests LABELS unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/session_test.cpp
    LIBS vesperon_app vesperon_test_support)
endif()

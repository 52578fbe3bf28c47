# The week on the real program: days, rest days, a start inside a period, the play log, no display,
# the hot keys refused. Xvfb, a PulseAudio null sink, a private session bus, `vesperon --log`.
if(VESPERON_GUI AND TARGET vesperon)
  find_package(X11 REQUIRED)
  vesperon_add_test(NAME app_week_e2e_test LABELS e2e OWN_MAIN TIMEOUT 400
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_week_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/e2e_program.cpp
    LIBS vesperon_test_support X11::X11)
  add_dependencies(app_week_e2e_test vesperon)
endif()

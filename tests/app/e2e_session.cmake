# A schedule from a session file on the real clock: Xvfb, a PulseAudio null sink, `vesperon --session`.
if(VESPERON_GUI AND TARGET vesperon)
  find_package(X11 REQUIRED)
  vesperon_add_test(NAME app_session_e2e_test LABELS e2e OWN_MAIN TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_session_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/e2e_program.cpp
    LIBS vesperon_test_support X11::X11)
  add_dependencies(app_session_e2e_test vesperon vesperon-decode)
endif()

# What comes from outside the window: the command line, hand-overs, MPRIS.
if(TARGET vesperon_app)
  vesperon_add_test(NAME app_outside_input_test LABELS unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/outside_input_test.cpp
    LIBS vesperon_app vesperon_test_support)
endif()

# The program on a private session bus, driven by playerctl, under Xvfb and PulseAudio.
if(VESPERON_GUI AND TARGET vesperon)
  vesperon_add_test(NAME app_mpris_e2e_test LABELS e2e OWN_MAIN TIMEOUT 400
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/mpris_e2e_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/e2e_program.cpp
    LIBS vesperon_test_support)
  add_dependencies(app_mpris_e2e_test vesperon)
endif()

# The desktop's volume when the sound server restarts, hangs or is changed by another program.
if(VESPERON_GUI AND TARGET vesperon)
  vesperon_add_test(NAME app_volume_e2e_test LABELS e2e OWN_MAIN TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/volume_e2e_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/e2e_program.cpp
    LIBS vesperon_test_support)
  add_dependencies(app_volume_e2e_test vesperon)
endif()

# The whole program for real: Xvfb, a PulseAudio null sink, xdotool and libfaketime around `vesperon`.
if(VESPERON_GUI AND TARGET vesperon)
  find_package(X11 REQUIRED)
  vesperon_add_test(NAME app_e2e_test LABELS e2e OWN_MAIN TIMEOUT 240
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/e2e_program.cpp
    LIBS vesperon_test_support X11::X11)
  add_dependencies(app_e2e_test vesperon vesperon-decode)
endif()

# What `cmake --install` puts in place, and the installed program without a display.
if(VESPERON_GUI AND TARGET vesperon)
  vesperon_add_test(NAME app_install_test LABELS e2e TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_install_test.cpp
    LIBS vesperon_test_support)
  add_dependencies(app_install_test vesperon)
endif()

# The program as a service starts it, from outside: no display, the null output, SIGTERM.
if(VESPERON_GUI AND TARGET vesperon)
  vesperon_add_test(NAME app_headless_start_test LABELS gui TIMEOUT 300
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/headless_start_test.cpp
    LIBS vesperon_test_support)
  add_dependencies(app_headless_start_test vesperon)
endif()

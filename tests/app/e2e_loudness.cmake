# Even loudness through the whole program: a session in track mode with a period's level, recorded.
if(VESPERON_GUI AND TARGET vesperon)
  vesperon_add_test(NAME app_loudness_e2e_test LABELS e2e OWN_MAIN TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_loudness_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/e2e_program.cpp
    LIBS vesperon_loudness vesperon_test_support)
  add_dependencies(app_loudness_e2e_test vesperon)
endif()

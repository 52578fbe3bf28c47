# Pure helpers of the player logic: no window, no sound.
if(TARGET vesperon_app)
  vesperon_add_test(NAME app_logic_unit_tests LABELS unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/logic_text_test.cpp
    LIBS vesperon_app)
endif()

vesperon_add_test(NAME mpeg_tools_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tools_test.cpp
  LIBS vesperon_test_support)
add_dependencies(mpeg_tools_tests vesperon-decode vesperon-cipher)
# The tool's output is compared with the player's own, where the player's tool is built.
if(TARGET vesperon-play)
  add_dependencies(mpeg_tools_tests vesperon-play)
endif()

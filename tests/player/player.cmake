vesperon_add_test(NAME player_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/player_test.cpp
  LIBS vesperon_player vesperon_test_support)
add_dependencies(player_tests vesperon-decode vesperon-cipher)
vesperon_add_test(NAME player_stress_tests LABELS stress TIMEOUT 600
  ENV VESPERON_AUDIO_OUTPUT=null
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stress_test.cpp
  LIBS vesperon_player vesperon_test_support)
vesperon_add_test(NAME play_tool_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/play_tool_test.cpp
  LIBS vesperon_test_support)
add_dependencies(play_tool_tests vesperon-play vesperon-decode vesperon-cipher)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PULSE_SIMPLE REQUIRED IMPORTED_TARGET libpulse-simple)
vesperon_add_test(NAME sound_server_e2e_tests LABELS e2e TIMEOUT 300
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sound_server_e2e_test.cpp
  LIBS vesperon_player vesperon_test_support PkgConfig::PULSE_SIMPLE)
add_dependencies(sound_server_e2e_tests vesperon-play vesperon-decode)

# The recording stand-in for the mixer, for the unit and gui tests here and in tests/app.
add_library(vesperon_volume_fake STATIC ${CMAKE_CURRENT_LIST_DIR}/fake_mixer.cpp)
target_include_directories(vesperon_volume_fake PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vesperon_volume_fake PUBLIC vesperon_volume_core)

vesperon_add_test(NAME volume_sys_volume_test LABELS unit OWN_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sys_volume_test.cpp
  LIBS vesperon_volume_fake)

vesperon_add_test(NAME volume_mixer_e2e_test LABELS e2e OWN_MAIN TIMEOUT 120
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mixer_e2e_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
  LIBS vesperon_volume vesperon_test_support
  ENV QT_QPA_PLATFORM=offscreen)

# An empty ALSA configuration: no card, no sound server, nothing called `default`.
vesperon_add_test(NAME volume_no_mixer_test LABELS e2e OWN_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/no_mixer_test.cpp
  LIBS vesperon_volume_core
  ENV ALSA_CONFIG_PATH=/dev/null)

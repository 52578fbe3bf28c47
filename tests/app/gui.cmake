# The player logic on the real main window (offscreen), the real engine on its null output, the
# mixer and the key grabber replaced by recording stand-ins.
if(TARGET vesperon_app AND TARGET vesperon_volume_fake)
  vesperon_add_test(NAME app_logic_gui_tests LABELS gui OWN_MAIN TIMEOUT 120
    SOURCES ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
            ${CMAKE_CURRENT_LIST_DIR}/startup_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/schedule_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/session_window_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/playlist_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/transport_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/volume_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/fade_quit_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/loudness_window_test.cpp
    LIBS vesperon_app vesperon_volume_fake vesperon_test_support Qt6::Test
    ENV QT_QPA_PLATFORM=offscreen VESPERON_AUDIO_OUTPUT=null)
endif()

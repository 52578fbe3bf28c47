find_package(X11 REQUIRED)

vesperon_add_test(NAME desktop_hot_keys_e2e_test LABELS e2e OWN_MAIN TIMEOUT 120
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hot_keys_e2e_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
  LIBS vesperon_desktop vesperon_test_support X11::X11
  ENV QT_QPA_PLATFORM=xcb)

vesperon_add_test(NAME desktop_hot_key_table_test LABELS gui OWN_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hot_key_table_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
  LIBS vesperon_desktop vesperon_test_support
  ENV QT_QPA_PLATFORM=offscreen)

vesperon_add_test(NAME desktop_drop_test LABELS gui OWN_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/drop_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
  LIBS vesperon_desktop vesperon_test_support
  ENV QT_QPA_PLATFORM=offscreen)

vesperon_add_test(NAME desktop_dialogs_test LABELS gui OWN_MAIN
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dialogs_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
  LIBS vesperon_desktop vesperon_test_support Qt6::Test
  ENV QT_QPA_PLATFORM=offscreen)

vesperon_add_test(NAME desktop_mpris_test LABELS gui OWN_MAIN TIMEOUT 120
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mpris_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
  LIBS vesperon_desktop vesperon_test_support Qt6::Test Qt6::DBus
  ENV QT_QPA_PLATFORM=offscreen)

# Against xdg-desktop-portal with KDE's backend and kglobalaccel, started on a private bus.
# With the whole program too, when it is built.
find_package(X11 REQUIRED)
vesperon_add_test(NAME desktop_portal_shortcuts_e2e_test LABELS e2e OWN_MAIN TIMEOUT 240
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/portal_shortcuts_e2e_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/gui_main.cpp
  LIBS vesperon_desktop vesperon_test_support Qt6::Test Qt6::DBus X11::X11
  ENV QT_QPA_PLATFORM=offscreen)
if(TARGET vesperon)
  add_dependencies(desktop_portal_shortcuts_e2e_test vesperon)
endif()

# The whole program on a headless Weston.
if(TARGET vesperon)
  vesperon_add_test(NAME desktop_wayland_e2e_test LABELS e2e TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/wayland_e2e_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/e2e_program.cpp
    LIBS vesperon_test_support)
  add_dependencies(desktop_wayland_e2e_test vesperon)
endif()

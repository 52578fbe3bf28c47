# vesperon-screenshot [--expanded | --reset-question] OUT.png: the main window's client area, or
# the reset question box, rendered offscreen.
if(VESPERON_GUI)
  add_executable(vesperon-screenshot ${CMAKE_CURRENT_LIST_DIR}/vesperon_screenshot.cpp)
  target_link_libraries(vesperon-screenshot PRIVATE vesperon_ui vesperon_skin vesperon_desktop)
endif()

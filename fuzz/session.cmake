# The session file's parser, with the QtCore it reads JSON through.
find_package(Qt6 QUIET COMPONENTS Core)
if(Qt6Core_FOUND)
  vesperon_add_fuzzer(fuzz_session ${CMAKE_CURRENT_LIST_DIR}/fuzz_session.cpp
    ${PROJECT_SOURCE_DIR}/app/session_file.cpp ${PROJECT_SOURCE_DIR}/app/play_log.cpp
    ${PROJECT_SOURCE_DIR}/app/schedule_model.cpp ${PROJECT_SOURCE_DIR}/app/week_schedule.cpp
    ${PROJECT_SOURCE_DIR}/app/schedule_box.cpp ${PROJECT_SOURCE_DIR}/app/loudness_keys.cpp)
  target_include_directories(fuzz_session PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(fuzz_session PRIVATE vesperon_loudness Qt6::Core Threads::Threads)
endif()

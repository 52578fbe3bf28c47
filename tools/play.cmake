# vesperon-play: plays files through the engine's player without a window.
add_executable(vesperon-play ${CMAKE_CURRENT_LIST_DIR}/vesperon_play.cpp)
target_link_libraries(vesperon-play PRIVATE vesperon_player)
# bench-play: CPU time and peak memory of real-time playback to the null output.
add_executable(bench-play ${CMAKE_CURRENT_LIST_DIR}/bench_play.cpp)
target_link_libraries(bench-play PRIVATE vesperon_player vesperon_loudness)

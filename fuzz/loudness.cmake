# The measuring path over hostile bytes (the decoder's corpus as seeds), and the cache file's reader.
vesperon_add_fuzzer(fuzz_loudness ${CMAKE_CURRENT_LIST_DIR}/fuzz_loudness.cpp)
target_link_libraries(fuzz_loudness PRIVATE vesperon_loudness)
vesperon_add_fuzzer(fuzz_loudness_cache ${CMAKE_CURRENT_LIST_DIR}/fuzz_loudness_cache.cpp)
target_link_libraries(fuzz_loudness_cache PRIVATE vesperon_loudness)

# The ID3 tag readers (MPRIS metadata comes from untrusted files).
vesperon_add_fuzzer(fuzz_tags ${CMAKE_CURRENT_LIST_DIR}/fuzz_tags.cpp)
target_link_libraries(fuzz_tags PRIVATE vesperon_tags)

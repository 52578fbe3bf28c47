# The whole decoding path over bytes in memory: probe, Xing, both frame decoders, resynchronisation.
vesperon_add_fuzzer(fuzz_decode ${CMAKE_CURRENT_LIST_DIR}/fuzz_decode.cpp)
target_link_libraries(fuzz_decode PRIVATE vesperon_mpeg)

# The whole decoding path over bytes in memory: probe, Xing, both frame decoders, resynchronisation.
vesperon_add_fuzzer(fuzz_decode ${CMAKE_CURRENT_LIST_DIR}/fuzz_decode.cpp)
target_link_libraries(fuzz_decode PRIVATE vesperon_mpeg)
# One frame decoder at a time, fed frame by frame: fast enough to search the decoders in depth.
foreach(layer 2 3)
  vesperon_add_fuzzer(fuzz_frame_l${layer} ${CMAKE_CURRENT_LIST_DIR}/fuzz_frame.cpp)
  target_link_libraries(fuzz_frame_l${layer} PRIVATE vesperon_mpeg)
endforeach()
target_compile_definitions(fuzz_frame_l2 PRIVATE FUZZ_LAYER_FIELD=kLayerFieldII)
target_compile_definitions(fuzz_frame_l3 PRIVATE FUZZ_LAYER_FIELD=kLayerFieldIII)
# The synthesis filter, the IMDCT and Layer II's sample reading branch only on loop counters: comparison tracing there finds
# nothing and took most of every execution's time, so those files keep only the counters.
set_source_files_properties(${PROJECT_SOURCE_DIR}/engine/mpeg/synthesis.cpp ${PROJECT_SOURCE_DIR}/engine/mpeg/layer3_hybrid.cpp ${PROJECT_SOURCE_DIR}/engine/mpeg/layer2_samples.cpp
  DIRECTORY ${PROJECT_SOURCE_DIR}/engine/mpeg PROPERTIES COMPILE_OPTIONS -fno-sanitize-coverage=trace-cmp)

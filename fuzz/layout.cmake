# The layout record loader: every byte of the record is checked before use.
vesperon_add_fuzzer(fuzz_layout ${CMAKE_CURRENT_LIST_DIR}/fuzz_layout.cpp)
target_link_libraries(fuzz_layout PRIVATE vesperon_layout_core)
# No Qt here; without this, automoc leaves a fuzz_layout_autogen folder that looks like a target.
set_target_properties(fuzz_layout PROPERTIES AUTOMOC OFF)

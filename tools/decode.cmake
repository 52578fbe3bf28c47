# vesperon-decode: a file to WAV or raw PCM through the player's decoding path; also a benchmark.
add_executable(vesperon-decode ${CMAKE_CURRENT_LIST_DIR}/vesperon_decode.cpp)
target_link_libraries(vesperon-decode PRIVATE vesperon_mpeg)
# vesperon-cipher: enciphers (and so deciphers) a file with a password.
add_executable(vesperon-cipher ${CMAKE_CURRENT_LIST_DIR}/vesperon_cipher.cpp)
target_link_libraries(vesperon-cipher PRIVATE vesperon_mpeg)

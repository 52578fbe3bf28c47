#pragma once
// The MPEG conformance vectors: the folder named by VESPERON_VECTORS_DIR in the environment, else
// by the build (the shared checkout beside the project). A test that needs them and finds no
// folder, or an empty one, fails at once naming it, rather than comparing what it decoded with
// nothing.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace vesperon::test {

inline std::string vectorsDir() {
    const char* chosen = std::getenv("VESPERON_VECTORS_DIR");
    const std::string dir = chosen && *chosen ? chosen : VESPERON_VECTORS_DIR;
    std::error_code unread;
    if (!std::filesystem::is_directory(dir) || std::filesystem::is_empty(dir, unread))
        throw std::runtime_error(
            "the MPEG test vectors are missing: no folder " + dir + ", or nothing in it" +
            " (check out the shared folder beside the project, or name the vectors' folder "
            "in VESPERON_VECTORS_DIR)");
    return dir;
}

inline std::string vectorPath(const std::string& name) {
    return vectorsDir() + "/" + name;
}

}  // namespace vesperon::test

// Build-time generator: reads the readable form description, writes the binary layout record as a
// C++ array (and, optionally, as a file of its own). Fails the build when the description is wrong
// or when the record it makes does not read back to the same form.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/routine_ids.h"
#include "ui/layout/form_layout.h"
#include "ui/layout/layout_description.h"
#include "ui/layout/record_writer.h"

namespace layout = vesperon::layout;

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::cerr << "usage: " << argv[0] << " DESCRIPTION OUT.cpp [OUT.record]\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << argv[1] << ": cannot read\n";
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();

    auto described = layout::readDescription(text.str(), vesperon::app::routineCatalog());
    if (!described) {
        std::cerr << argv[1] << ": " << described.error << "\n";
        return 1;
    }
    auto encoded = layout::encode(described.value);
    if (!encoded) {
        std::cerr << argv[1] << ": " << encoded.error << "\n";
        return 1;
    }
    auto back = layout::parse(encoded.value, vesperon::app::routineCatalog());
    if (!back) {
        std::cerr << argv[1] << ": the record it makes is refused: " << back.error << "\n";
        return 1;
    }
    if (!(back.value == described.value)) {
        std::cerr << argv[1] << ": the record it makes does not read back to the same form\n";
        return 1;
    }

    std::ostringstream cpp;
    cpp << "// Generated from main_window.layout by vesperon_layout_gen; do not edit.\n"
        << "#include <cstddef>\n#include <cstdint>\n\n"
        << "namespace vesperon::layout::generated {\n"
        << "extern const std::uint8_t kMainWindowRecord[];\n"
        << "extern const std::size_t kMainWindowRecordSize;\n"
        << "const std::uint8_t kMainWindowRecord[] = {";
    for (std::size_t i = 0; i < encoded.value.size(); ++i) {
        cpp << (i % 16 ? " " : "\n    ") << static_cast<unsigned>(encoded.value[i]) << ",";
    }
    cpp << "\n};\nconst std::size_t kMainWindowRecordSize = " << encoded.value.size() << ";\n"
        << "}  // namespace vesperon::layout::generated\n";

    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << cpp.str();
    if (!out) {
        std::cerr << argv[2] << ": cannot write\n";
        return 1;
    }
    if (argc == 4) {
        std::ofstream bin(argv[3], std::ios::binary | std::ios::trunc);
        bin.write(reinterpret_cast<const char*>(encoded.value.data()),
                  static_cast<std::streamsize>(encoded.value.size()));
        if (!bin) {
            std::cerr << argv[3] << ": cannot write\n";
            return 1;
        }
    }
    return 0;
}

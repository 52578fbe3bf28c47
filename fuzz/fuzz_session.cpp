// Feeds arbitrary bytes to the session file's parser. Beyond not crashing: a refusal says why,
// and a session it accepts, written out again, reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/report.h"
#include "app/session_file.h"

using namespace vesperon::app;

// The play log is linked for its JSON escaping; only its writer, which never runs here, tells
// trouble through this.
void vesperon::app::reportLine(const std::string&) {}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto r = ParseSession(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!r) {
        if (r.error.empty()) std::abort();
        return 0;
    }
    auto back = ParseSession(FormatSession(r.value));
    if (!back || !(back.value == r.value)) std::abort();
    return 0;
}

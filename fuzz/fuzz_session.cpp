// Feeds arbitrary bytes to the session file's parser. Beyond not crashing: a refusal says why,
// and a session it accepts, written out again, reads back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/report.h"
#include "app/session_file.h"

using namespace vesperon::app;

// The parser's module tells nothing itself; the play log's writer, linked for its JSON escaping,
// would tell through this.
void vesperon::app::reportLine(const std::string& reason) { std::fprintf(stderr, "vesperon: %s\n", reason.c_str()); }

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

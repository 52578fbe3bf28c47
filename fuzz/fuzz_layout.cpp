// Feeds arbitrary bytes to the layout record loader. Beyond not crashing, a record it accepts must
// describe a sound tree, and writing it out again must read back to the same form.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <unordered_set>

#include "app/routine_ids.h"
#include "ui/layout/form_layout.h"
#include "ui/layout/record_writer.h"

using namespace vesperon::layout;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto r = parse(std::span<const std::uint8_t>(data, size), vesperon::app::routineCatalog());
    if (!r) {
        if (!r.value.units.empty()) std::abort();
        return 0;
    }
    const FormLayout& f = r.value;
    if (f.units.empty() || f.window().kind != Kind::Window) std::abort();
    std::unordered_set<std::uint32_t> ids;
    for (const auto& u : f.units)
        if (!ids.insert(u.id).second) std::abort();
    for (const auto& u : f.units) {
        if (u.props.index() != static_cast<std::size_t>(u.kind)) std::abort();
        if (u.parent != 0 && !f.find(u.parent)) std::abort();  // refused parents take their children
        if (u.blockVersion > newestBlockVersion(u.kind)) std::abort();
    }
    if (!f.refused.empty()) return 0;  // their identifiers are still named by others' lists
    auto again = encode(f);
    if (!again) return 0;
    auto back = parse(again.value, vesperon::app::routineCatalog());
    if (!back || !(back.value == f)) std::abort();
    return 0;
}

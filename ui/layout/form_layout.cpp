#include "ui/layout/form_layout.h"

namespace vesperon::layout {
namespace {

struct KindInfo {
    Kind kind;
    std::string_view name;
    TypeCode code;
    std::uint32_t newestVersion;
};

constexpr KindInfo kKinds[] = {
    {Kind::Window, "Window", {1, 1}, 6},        {Kind::EditBox, "EditBox", {5, 1}, 2},
    {Kind::GroupBox, "GroupBox", {9, 1}, 1},    {Kind::Label, "Label", {10, 1}, 2},
    {Kind::Button, "Button", {11, 1}, 1},       {Kind::CheckBox, "CheckBox", {12, 1}, 2},
    {Kind::ListBox, "ListBox", {15, 1}, 3},     {Kind::VScrollBar, "VScrollBar", {18, 1}, 1},
    {Kind::SliderBar, "SliderBar", {20, 1}, 1}, {Kind::Timer, "Timer", {32, 1}, 1},
    {Kind::SysVolume, "SysVolume", {1, 2}, 1},  {Kind::DropTarget, "DropTarget", {1, 5}, 1},
};

const KindInfo& info(Kind k) {
    return kKinds[static_cast<std::size_t>(k)];
}

template <std::size_t I = 0>
TypeProps makeDefault(std::size_t index) {
    if constexpr (I < std::variant_size_v<TypeProps>) {
        if (index == I) return TypeProps(std::in_place_index<I>);
        return makeDefault<I + 1>(index);
    } else {
        return TypeProps{};
    }
}

}  // namespace

std::optional<RoutineId> RoutineCatalog::fromName(std::string_view name) const {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<RoutineId>(i + 1);
    return std::nullopt;
}

std::string_view kindName(Kind k) {
    return info(k).name;
}

std::optional<Kind> kindFromName(std::string_view name) {
    for (const auto& k : kKinds)
        if (k.name == name) return k.kind;
    return std::nullopt;
}

std::optional<Kind> kindFromCode(TypeCode code) {
    for (const auto& k : kKinds)
        if (k.code == code) return k.kind;
    return std::nullopt;
}

TypeCode codeOf(Kind k) {
    return info(k).code;
}

std::uint32_t newestBlockVersion(Kind k) {
    return info(k).newestVersion;
}

TypeProps defaultProps(Kind k) {
    return makeDefault(static_cast<std::size_t>(k));
}

std::optional<RoutineId> Unit::routineFor(std::int32_t event) const {
    for (const auto& b : bindings)
        if (b.event == event) return b.routine;
    return std::nullopt;
}

const Unit* FormLayout::find(std::uint32_t id) const {
    for (const auto& u : units)
        if (u.id == id) return &u;
    return nullptr;
}

const Unit* FormLayout::find(std::string_view name) const {
    for (const auto& u : units)
        if (u.name == name) return &u;
    return nullptr;
}

void putFontFields(const Font& f, std::uint8_t* out) {
    auto put32 = [&](std::size_t at, std::int32_t v) {
        const auto u = static_cast<std::uint32_t>(v);
        for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
    };
    put32(0, f.height);
    put32(4, f.width);
    put32(8, f.escapement);
    put32(12, f.orientation);
    put32(16, f.weight);
    const std::uint8_t bytes[8] = {f.italic,       f.underline,     f.strikeOut, f.charSet,
                                   f.outPrecision, f.clipPrecision, f.quality,   f.pitchAndFamily};
    for (std::size_t i = 0; i < 8; ++i) out[20 + i] = bytes[i];
}

Font fontFields(const std::uint8_t* in) {
    auto get32 = [&](std::size_t at) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
                                         static_cast<std::uint32_t>(in[at + 2]) << 16 |
                                         static_cast<std::uint32_t>(in[at + 3]) << 24);
    };
    Font f;
    f.height = get32(0);
    f.width = get32(4);
    f.escapement = get32(8);
    f.orientation = get32(12);
    f.weight = get32(16);
    f.italic = in[20];
    f.underline = in[21];
    f.strikeOut = in[22];
    f.charSet = in[23];
    f.outPrecision = in[24];
    f.clipPrecision = in[25];
    f.quality = in[26];
    f.pitchAndFamily = in[27];
    return f;
}

}  // namespace vesperon::layout

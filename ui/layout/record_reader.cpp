// The binary record reader. Every read goes through Cursor, which checks the bytes are there
// before touching them; counts are checked against the bytes left before anything is allocated.
#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "ui/layout/form_layout.h"
#include "ui/layout/gbk.h"
#include "ui/layout/type_fields.h"

namespace vesperon::layout {
namespace {

struct Malformed {
    std::string message;
};

class Cursor {
public:
    Cursor(std::span<const std::uint8_t> all, std::size_t begin, std::size_t end)
        : all_(all), pos_(begin), end_(end) {}

    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return end_ - pos_; }

    std::span<const std::uint8_t> take(std::uint64_t n, const char* what) {
        if (n > remaining())
            fail(std::string(what) + " needs " + std::to_string(n) + " bytes, " +
                 std::to_string(remaining()) + " left");
        auto s = all_.subspan(pos_, static_cast<std::size_t>(n));
        pos_ += static_cast<std::size_t>(n);
        return s;
    }
    std::uint32_t u32(const char* what) {
        auto b = take(4, what);
        return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
               static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    }
    std::int32_t i32(const char* what) { return static_cast<std::int32_t>(u32(what)); }
    std::uint16_t u16(const char* what) {
        auto b = take(2, what);
        return static_cast<std::uint16_t>(b[0] | b[1] << 8);
    }
    // A count of items each at least `itemSize` bytes long: refused before anything is allocated
    // when the bytes left cannot hold that many.
    std::uint32_t count(const char* what, std::uint32_t itemSize) {
        std::size_t at = pos_;
        std::uint32_t n = u32(what);
        if (static_cast<std::uint64_t>(n) * itemSize > remaining())
            fail(std::string(what) + " " + std::to_string(n) + " does not fit the " +
                     std::to_string(remaining()) + " bytes left",
                 at);
        return n;
    }
    // NUL-terminated GBK text.
    std::string cText(const char* what) {
        const std::uint8_t* begin = all_.data() + pos_;
        const void* nul = std::memchr(begin, 0, remaining());
        if (!nul) fail(std::string(what) + " has no terminating NUL");
        std::size_t n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - begin);
        std::size_t at = pos_;
        pos_ += n + 1;
        return utf8(std::string_view(reinterpret_cast<const char*>(begin), n), what, at);
    }
    // u32 length, then GBK bytes without a NUL.
    std::string lenText(const char* what) {
        std::size_t at = pos_;
        std::uint32_t n = u32(what);
        auto b = take(n, what);
        auto sv = std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
        if (sv.find('\0') != std::string_view::npos) fail(std::string(what) + " holds a NUL byte", at);
        return utf8(sv, what, at);
    }
    Binary binary(const char* what) {
        std::uint32_t n = u32(what);
        auto b = take(n, what);
        return Binary(b.begin(), b.end());
    }
    std::string utf8(std::string_view gbk, const char* what, std::size_t at) {
        auto s = gbkToUtf8(gbk);
        if (!s) fail(std::string(what) + " is not valid GBK text", at);
        return *s;
    }

    [[noreturn]] void fail(const std::string& what) const { fail(what, pos_); }
    [[noreturn]] void fail(const std::string& what, std::size_t at) const {
        throw Malformed{what + " (at byte " + std::to_string(at) + ")"};
    }

private:
    std::span<const std::uint8_t> all_;
    std::size_t pos_;
    std::size_t end_;
};

std::optional<Font> readFont(Cursor& c, const char* what) {
    std::size_t at = c.pos();
    Binary b = c.binary(what);
    if (b.empty()) return std::nullopt;
    if (b.size() != kFontRecordSize)
        c.fail(std::string(what) + " record is " + std::to_string(b.size()) + " bytes, not 60", at);
    Font f = fontFields(b.data());
    const char* face = reinterpret_cast<const char*>(b.data() + kFontFaceOffset);
    const void* nul = std::memchr(face, 0, kFontFaceSize);
    if (!nul) c.fail(std::string(what) + " face name has no terminating NUL", at);
    f.faceName =
        c.utf8(std::string_view(face, static_cast<std::size_t>(static_cast<const char*>(nul) - face)),
               "font face name", at);
    return f;
}

// Reads the fields a block of `version` holds, in stored order.
struct FieldReader {
    Cursor& c;
    std::uint32_t version;

    void operator()(const char* name, std::int32_t& v, std::uint32_t since) {
        if (version >= since) v = c.i32(name);
    }
    void operator()(const char* name, std::uint32_t& v, std::uint32_t since) {
        if (version >= since) v = c.u32(name);
    }
    void operator()(const char* name, std::uint16_t& v, std::uint32_t since) {
        if (version >= since) v = c.u16(name);
    }
    void operator()(const char* name, std::string& v, std::uint32_t since) {
        if (version >= since) v = c.lenText(name);
    }
    void operator()(const char* name, Binary& v, std::uint32_t since) {
        if (version >= since) v = c.binary(name);
    }
    void operator()(const char* name, std::optional<Font>& v, std::uint32_t since) {
        if (version >= since) v = readFont(c, name);
    }
    void operator()(const char* name, std::vector<std::string>& v, std::uint32_t since) {
        if (version < since) return;
        std::uint32_t n = c.count(name, 4);
        v.clear();
        v.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) v.push_back(c.lenText(name));
    }
    void operator()(const char* name, std::vector<std::int32_t>& v, std::uint32_t since) {
        if (version < since) return;
        std::uint32_t n = c.count(name, 4);
        v.clear();
        v.reserve(n);
        for (std::uint32_t i = 0; i < n; ++i) v.push_back(c.i32(name));
    }
};

struct RawUnit {
    Unit unit;
    TypeCode code;
    std::optional<std::string> refusal;
};

RawUnit readUnit(Cursor& c, std::uint32_t id, const RoutineCatalog& routines) {
    RawUnit r;
    Unit& u = r.unit;
    u.id = id;
    r.code.type = c.u16("type");
    r.code.library = c.u16("library");
    c.take(20, "reserved bytes");
    u.name = c.cText("name");
    u.remark = c.cText("remark");
    c.u32("live widget slot");
    u.left = c.i32("left");
    u.top = c.i32("top");
    u.width = c.i32("width");
    u.height = c.i32("height");
    c.u32("reserved value");
    u.parent = c.u32("parent");
    std::uint32_t nChildren = c.count("child count", 4);
    u.children.reserve(nChildren);
    for (std::uint32_t i = 0; i < nChildren; ++i) u.children.push_back(c.u32("child"));
    std::size_t pointerAt = c.pos();
    std::uint32_t pointerLen = c.u32("mouse pointer length");
    auto pointer = c.take(pointerLen, "mouse pointer");
    if (pointerLen >= 4) {
        u.pointer.value = static_cast<std::int32_t>(pointer[0] | pointer[1] << 8 | pointer[2] << 16 |
                                                    static_cast<std::uint32_t>(pointer[3]) << 24);
        if (u.pointer.value == kPointerCustom)
            u.pointer.image.assign(pointer.begin() + 4, pointer.end());
        else if (pointerLen != 4)
            c.fail("mouse pointer of " + std::to_string(pointerLen) + " bytes is not a custom pointer",
                   pointerAt);
    } else if (pointerLen != 0) {
        c.fail("mouse pointer of " + std::to_string(pointerLen) + " bytes", pointerAt);
    }
    u.tag = c.cText("tag");
    c.u32("reserved value");
    u.stateFlags = c.u32("state flags");
    u.tabOrder = c.u32("tab order");
    std::uint32_t nBindings = c.count("event binding count", 8);
    u.bindings.reserve(nBindings);
    for (std::uint32_t i = 0; i < nBindings; ++i) {
        std::size_t at = c.pos();
        std::int32_t event = c.i32("event number");
        std::uint32_t routine = c.u32("routine");
        if (!routines.known(routine))
            c.fail(
                "event " + std::to_string(event) + " is bound to unknown routine " + std::to_string(routine),
                at);
        for (const auto& b : u.bindings)
            if (b.event == event) c.fail("event " + std::to_string(event) + " is bound twice", at);
        u.bindings.push_back({event, routine});
    }
    c.take(20, "reserved bytes");

    auto kind = kindFromCode(r.code);
    if (!kind) {
        r.refusal = "unknown widget type " + std::to_string(r.code.type) + " of library " +
                    std::to_string(r.code.library);
        return r;
    }
    u.kind = *kind;
    u.props = defaultProps(*kind);
    if (c.remaining() == 0) return r;  // empty type block: the defaults
    u.blockEmpty = false;
    u.blockVersion = c.u32("type block version");
    if (u.blockVersion > newestBlockVersion(*kind)) {
        r.refusal = std::string(kindName(*kind)) + " type block version " + std::to_string(u.blockVersion) +
                    " is newer than " + std::to_string(newestBlockVersion(*kind));
        return r;
    }
    detail::visitFields(u.props, FieldReader{c, u.blockVersion});
    if (c.remaining() != 0) c.fail(std::to_string(c.remaining()) + " unexpected bytes after the type block");
    return r;
}

std::string describe(const Unit& u, std::size_t index) {
    std::string s = "unit " + std::to_string(index);
    if (!u.name.empty()) s += " (" + u.name + ")";
    return s;
}

// Parents, children, identifiers and names must form one consistent tree under the window.
void checkStructure(std::vector<RawUnit>& raw, std::uint32_t windowId) {
    const Unit& w = raw.front().unit;
    if (raw.front().refusal) throw Malformed{"the window cannot be loaded: " + *raw.front().refusal};
    if (w.kind != Kind::Window) throw Malformed{"the first unit is not the window"};
    if (w.id != windowId)
        throw Malformed{"the first unit's identifier " + std::to_string(w.id) + " is not the window's " +
                        std::to_string(windowId)};
    if (w.parent != 0 || !w.children.empty()) throw Malformed{"the window has a parent or children"};

    std::unordered_map<std::uint32_t, std::size_t> byId;
    std::set<std::string> names;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const Unit& u = raw[i].unit;
        if (u.id == 0) throw Malformed{describe(u, i) + " has identifier 0"};
        if (!byId.emplace(u.id, i).second)
            throw Malformed{describe(u, i) + " repeats identifier " + std::to_string(u.id)};
        if (i > 0 && !raw[i].refusal && u.kind == Kind::Window)
            throw Malformed{describe(u, i) + " is a second window"};
        if (!u.name.empty() && !names.insert(u.name).second)
            throw Malformed{describe(u, i) + " repeats a name"};
    }
    auto isGroup = [&](std::size_t i) { return !raw[i].refusal && raw[i].unit.kind == Kind::GroupBox; };
    // Every (group, child) pair the children lists name; a pair named twice is an error.
    std::unordered_set<std::uint64_t> listed;
    auto pair = [](std::uint32_t parent, std::uint32_t child) { return std::uint64_t{parent} << 32 | child; };
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const Unit& u = raw[i].unit;
        for (std::uint32_t child : u.children) {
            auto ci = byId.find(child);
            if (ci == byId.end() || raw[ci->second].unit.parent != u.id ||
                !listed.insert(pair(u.id, child)).second)
                throw Malformed{describe(u, i) + " lists child " + std::to_string(child) + " wrongly"};
        }
    }
    std::vector<std::size_t> parentOf(raw.size(), 0);
    for (std::size_t i = 1; i < raw.size(); ++i) {
        const Unit& u = raw[i].unit;
        if (u.parent == 0) continue;
        auto p = byId.find(u.parent);
        if (p == byId.end())
            throw Malformed{describe(u, i) + " has an unknown parent " + std::to_string(u.parent)};
        // A refused parent's type is unknown; its children are refused below.
        if (!raw[p->second].refusal && !isGroup(p->second))
            throw Malformed{describe(u, i) + "'s parent is not a group box"};
        if (!listed.count(pair(u.parent, u.id)))
            throw Malformed{describe(u, i) + " is missing from its parent's children"};
        parentOf[i] = p->second;
    }
    // Walk up from every unit to the window, once per unit: a unit met again on the same walk sits
    // in a cycle. A widget inside a refused group box cannot be placed either.
    enum : std::uint8_t { Unseen, OnWalk, Done };
    std::vector<std::uint8_t> state(raw.size(), Unseen);
    state[0] = Done;
    std::vector<std::size_t> walk;
    for (std::size_t i = 1; i < raw.size(); ++i) {
        walk.clear();
        std::size_t at = i;
        while (state[at] == Unseen) {
            state[at] = OnWalk;
            walk.push_back(at);
            at = raw[at].unit.parent == 0 ? 0 : parentOf[at];
        }
        if (state[at] == OnWalk)
            throw Malformed{describe(raw[i].unit, i) + " sits in a cycle of group boxes"};
        for (auto it = walk.rbegin(); it != walk.rend(); ++it) {
            RawUnit& r = raw[*it];
            if (!r.refusal && r.unit.parent != 0 && raw[parentOf[*it]].refusal)
                r.refusal = "its group box was refused";
            state[*it] = Done;
        }
    }
}

FormLayout read(std::span<const std::uint8_t> bytes, const RoutineCatalog& routines) {
    Cursor top(bytes, 0, bytes.size());
    FormLayout layout;
    for (auto& h : layout.header) h = top.u32("window header");
    if (layout.header[0] != kHeaderFormat)
        top.fail(
            "record format " + std::to_string(layout.header[0]) + " is not " + std::to_string(kHeaderFormat),
            0);
    std::uint32_t count = top.u32("unit count");
    std::size_t restAt = top.pos();
    std::uint32_t rest = top.u32("size of the rest");
    if (rest != top.remaining())
        top.fail("size of the rest says " + std::to_string(rest) + " bytes but " +
                     std::to_string(top.remaining()) + " follow",
                 restAt);
    if (count == 0) top.fail("the record holds no units", restAt - 4);
    if (static_cast<std::uint64_t>(count) * 8 > top.remaining())
        top.fail("unit count " + std::to_string(count) + " does not fit the record", restAt - 4);
    std::vector<std::uint32_t> ids(count), offsets(count);
    for (auto& id : ids) id = top.u32("unit identifier");
    for (auto& off : offsets) off = top.u32("unit offset");
    const std::size_t area = top.pos();
    const std::size_t areaSize = bytes.size() - area;

    // Each unit's extent; units may not share bytes, so reading them all costs no more than the
    // record's own size.
    std::vector<std::pair<std::size_t, std::size_t>> extents(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string where = "unit " + std::to_string(i);
        if (static_cast<std::uint64_t>(offsets[i]) + 4 > areaSize)
            throw Malformed{where + ": offset " + std::to_string(offsets[i]) + " lies outside the unit area"};
        Cursor lenAt(bytes, area + offsets[i], bytes.size());
        std::uint32_t length = lenAt.u32("unit length");
        if (static_cast<std::uint64_t>(offsets[i]) + 4 + length > areaSize)
            throw Malformed{where + ": length " + std::to_string(length) +
                            " runs past the end of the record"};
        extents[i] = {lenAt.pos(), lenAt.pos() + length};
    }
    {
        std::vector<std::pair<std::size_t, std::size_t>> sorted(extents);
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t i = 1; i < sorted.size(); ++i)
            if (sorted[i].first - 4 < sorted[i - 1].second)
                throw Malformed{"two units overlap at byte " + std::to_string(sorted[i].first - 4)};
    }

    std::vector<RawUnit> raw;
    raw.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string where = "unit " + std::to_string(i);
        Cursor c(bytes, extents[i].first, extents[i].second);
        try {
            raw.push_back(readUnit(c, ids[i], routines));
        } catch (const Malformed& m) {
            throw Malformed{where + ": " + m.message};
        }
    }
    checkStructure(raw, layout.windowId());
    for (auto& r : raw) {
        if (r.refusal)
            layout.refused.push_back({r.unit.id, r.unit.name, r.code, r.unit.blockVersion, *r.refusal});
        else
            layout.units.push_back(std::move(r.unit));
    }
    return layout;
}

}  // namespace

ParseResult parse(std::span<const std::uint8_t> bytes, const RoutineCatalog& routines) {
    ParseResult result;
    try {
        result.value = read(bytes, routines);
    } catch (const Malformed& m) {
        result.value = FormLayout{};
        result.error = "layout record: " + m.message;
    }
    return result;
}

}  // namespace vesperon::layout

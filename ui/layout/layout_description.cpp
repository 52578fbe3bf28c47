#include "ui/layout/layout_description.h"

#include <charconv>
#include <limits>

#include "ui/layout/type_fields.h"

namespace vesperon::layout {
namespace {

struct Bad {
    std::string message;
};

struct Token {
    std::string text;
    bool quoted = false;
};

std::vector<Token> tokenize(std::string_view line) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < line.size()) {
        char ch = line[i];
        if (ch == ' ' || ch == '\t' || ch == '\r') {
            ++i;
        } else if (ch == '#') {
            break;
        } else if (ch == '"') {
            Token t{{}, true};
            ++i;
            for (;;) {
                if (i >= line.size()) throw Bad{"unterminated text"};
                char c = line[i++];
                if (c == '"') break;
                if (c == '\\') {
                    if (i >= line.size()) throw Bad{"unterminated text"};
                    char e = line[i++];
                    if (e == 'n')
                        t.text += '\n';
                    else if (e == 'r')
                        t.text += '\r';
                    else if (e == 't')
                        t.text += '\t';
                    else if (e == '"' || e == '\\')
                        t.text += e;
                    else
                        throw Bad{std::string("unknown escape \\") + e};
                } else {
                    t.text += c;
                }
            }
            out.push_back(std::move(t));
        } else {
            std::size_t j = i;
            while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
            out.push_back({std::string(line.substr(i, j - i)), false});
            i = j;
        }
    }
    return out;
}

std::int64_t number(const Token& t, std::int64_t lo, std::int64_t hi) {
    if (t.quoted) throw Bad{"expected a number, found text"};
    std::string_view s = t.text;
    bool negative = !s.empty() && s[0] == '-';
    if (negative) s.remove_prefix(1);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    std::uint64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v > (std::uint64_t{1} << 33))
        throw Bad{"\"" + t.text + "\" is not a number"};
    std::int64_t n = negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
    if (n < lo || n > hi)
        throw Bad{t.text + " is out of range " + std::to_string(lo) + " .. " + std::to_string(hi)};
    return n;
}

std::int32_t i32(const Token& t) {
    return static_cast<std::int32_t>(
        number(t, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}
std::uint32_t u32(const Token& t) {
    return static_cast<std::uint32_t>(number(t, 0, std::numeric_limits<std::uint32_t>::max()));
}

const std::string& text(const Token& t) {
    if (!t.quoted) throw Bad{"expected \"text\", found " + t.text};
    return t.text;
}

Binary hex(const Token& t) {
    const std::string& s = text(t);
    if (s.size() % 2) throw Bad{"binary value needs an even number of hex digits"};
    Binary b;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        unsigned v = 0;
        auto [end, ec] = std::from_chars(s.data() + i, s.data() + i + 2, v, 16);
        if (ec != std::errc() || end != s.data() + i + 2) throw Bad{"bad hex digits in binary value"};
        b.push_back(static_cast<std::uint8_t>(v));
    }
    return b;
}

void expectCount(const std::vector<Token>& args, std::size_t n) {
    if (args.size() != n)
        throw Bad{"expected " + std::to_string(n) + " value(s), found " + std::to_string(args.size())};
}

std::optional<Font> font(const std::vector<Token>& args) {
    if (args.size() == 1 && !args[0].quoted && args[0].text == "none") return std::nullopt;
    if (args.empty()) throw Bad{"font needs a face name or none"};
    Font f;
    f.faceName = text(args[0]);
    if ((args.size() - 1) % 2) throw Bad{"font attributes come in name value pairs"};
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string& key = args[i].text;
        const Token& v = args[i + 1];
        std::int32_t* wide = key == "height"        ? &f.height
                             : key == "width"       ? &f.width
                             : key == "escapement"  ? &f.escapement
                             : key == "orientation" ? &f.orientation
                             : key == "weight"      ? &f.weight
                                                    : nullptr;
        std::uint8_t* narrow = key == "italic"           ? &f.italic
                               : key == "underline"      ? &f.underline
                               : key == "strikeOut"      ? &f.strikeOut
                               : key == "charSet"        ? &f.charSet
                               : key == "outPrecision"   ? &f.outPrecision
                               : key == "clipPrecision"  ? &f.clipPrecision
                               : key == "quality"        ? &f.quality
                               : key == "pitchAndFamily" ? &f.pitchAndFamily
                                                         : nullptr;
        if (wide)
            *wide = i32(v);
        else if (narrow)
            *narrow = static_cast<std::uint8_t>(number(v, 0, 255));
        else
            throw Bad{"unknown font attribute " + key};
    }
    return f;
}

// Sets the one field called `name` from the line's values.
struct FieldSetter {
    const std::string& name;
    const std::vector<Token>& args;
    std::uint32_t version;
    bool found = false;

    bool matches(const char* field, std::uint32_t since) {
        if (name != field) return false;
        found = true;
        if (version < since) throw Bad{name + " needs block version " + std::to_string(since) + " or newer"};
        return true;
    }
    void operator()(const char* f, std::int32_t& v, std::uint32_t since) {
        if (!matches(f, since)) return;
        expectCount(args, 1);
        v = i32(args[0]);
    }
    void operator()(const char* f, std::uint32_t& v, std::uint32_t since) {
        if (!matches(f, since)) return;
        expectCount(args, 1);
        v = u32(args[0]);
    }
    void operator()(const char* f, std::uint16_t& v, std::uint32_t since) {
        if (!matches(f, since)) return;
        expectCount(args, 1);
        v = static_cast<std::uint16_t>(number(args[0], 0, 0xFFFF));
    }
    void operator()(const char* f, std::string& v, std::uint32_t since) {
        if (!matches(f, since)) return;
        expectCount(args, 1);
        v = text(args[0]);
    }
    void operator()(const char* f, Binary& v, std::uint32_t since) {
        if (!matches(f, since)) return;
        expectCount(args, 1);
        v = hex(args[0]);
    }
    void operator()(const char* f, std::optional<Font>& v, std::uint32_t since) {
        if (matches(f, since)) v = font(args);
    }
    void operator()(const char* f, std::vector<std::string>& v, std::uint32_t since) {
        if (!matches(f, since)) return;
        v.clear();
        for (const auto& a : args) v.push_back(text(a));
    }
    void operator()(const char* f, std::vector<std::int32_t>& v, std::uint32_t since) {
        if (!matches(f, since)) return;
        v.clear();
        for (const auto& a : args) v.push_back(i32(a));
    }
};

class Reader {
public:
    explicit Reader(const RoutineCatalog& routines) : routines_(routines) {}
    FormLayout layout;

    void line(std::vector<Token> tokens) {
        if (tokens.empty()) return;
        const std::string& key = tokens[0].text;
        std::vector<Token> args(tokens.begin() + 1, tokens.end());
        if (tokens[0].quoted) throw Bad{"a line starts with a keyword, not text"};
        if (key == "header") {
            if (!layout.units.empty()) throw Bad{"the header comes before the units"};
            expectCount(args, 7);
            for (std::size_t i = 0; i < 7; ++i) layout.header[i] = u32(args[i]);
        } else if (auto kind = kindFromName(key)) {
            finishUnit();
            startUnit(*kind, args);
        } else {
            if (layout.units.empty()) throw Bad{"\"" + key + "\" outside a unit"};
            unitLine(layout.units.back(), key, args);
        }
    }

    void finishUnit() {
        if (!layout.units.empty() && !blockSeen_)
            throw Bad{"unit " + layout.units.back().name + " has no block line"};
    }

private:
    const RoutineCatalog& routines_;
    bool blockSeen_ = false;

    void startUnit(Kind kind, const std::vector<Token>& args) {
        if (args.size() != 2 && !(args.size() == 4 && args[2].text == "in" && !args[2].quoted))
            throw Bad{"a unit line is: Kind name id [in group]"};
        Unit u;
        u.kind = kind;
        u.name = args[0].text;
        u.id = u32(args[1]);
        u.props = defaultProps(kind);
        if (layout.units.empty() && kind != Kind::Window) throw Bad{"the window comes first"};
        if (args.size() == 4) {
            const Unit* parent = layout.find(std::string_view(args[3].text));
            if (!parent || parent->kind != Kind::GroupBox)
                throw Bad{"\"" + args[3].text + "\" is not a group box declared above"};
            u.parent = parent->id;
            for (auto& p : layout.units)
                if (p.id == u.parent) p.children.push_back(u.id);
        }
        layout.units.push_back(std::move(u));
        blockSeen_ = false;
    }

    void unitLine(Unit& u, const std::string& key, const std::vector<Token>& args) {
        if (blockSeen_) {
            if (u.blockEmpty) throw Bad{"an empty block holds no fields"};
            FieldSetter set{key, args, u.blockVersion};
            detail::visitFields(u.props, set);
            if (!set.found) throw Bad{std::string(kindName(u.kind)) + " has no field " + key};
            return;
        }
        if (key == "at") {
            expectCount(args, 4);
            u.left = i32(args[0]);
            u.top = i32(args[1]);
            u.width = i32(args[2]);
            u.height = i32(args[3]);
        } else if (key == "pointer") {
            pointer(u, args);
        } else if (key == "state") {
            u.stateFlags = 0;
            for (const auto& a : args) {
                if (a.text == "visible")
                    u.stateFlags |= kStateVisible;
                else if (a.text == "disabled")
                    u.stateFlags |= kStateDisabled;
                else if (a.text == "focusable")
                    u.stateFlags |= kStateFocusable;
                else if (a.text != "none")
                    throw Bad{"unknown state " + a.text};
            }
        } else if (key == "tab") {
            expectCount(args, 1);
            u.tabOrder = u32(args[0]);
        } else if (key == "on") {
            expectCount(args, 2);
            std::int32_t event = i32(args[0]);
            auto routine = routines_.fromName(args[1].text);
            if (!routine) throw Bad{"unknown routine " + args[1].text};
            if (u.routineFor(event)) throw Bad{"event " + args[0].text + " is bound twice"};
            u.bindings.push_back({event, *routine});
        } else if (key == "remark" || key == "tag") {
            expectCount(args, 1);
            (key == "remark" ? u.remark : u.tag) = text(args[0]);
        } else if (key == "block") {
            expectCount(args, 1);
            blockSeen_ = true;
            if (!args[0].quoted && args[0].text == "empty") {
                u.blockEmpty = true;
                u.blockVersion = 0;
            } else {
                u.blockEmpty = false;
                u.blockVersion = u32(args[0]);
                if (u.blockVersion > newestBlockVersion(u.kind))
                    throw Bad{"block version " + args[0].text + " is newer than " +
                              std::string(kindName(u.kind)) + " knows"};
            }
        } else {
            throw Bad{"unknown keyword " + key + " (type fields follow the block line)"};
        }
    }

    static void pointer(Unit& u, const std::vector<Token>& args) {
        u.pointer = {};
        if (args.size() == 2 && args[0].text == "custom") {
            u.pointer.value = kPointerCustom;
            u.pointer.image = hex(args[1]);
            return;
        }
        expectCount(args, 1);
        const std::string& v = args[0].text;
        u.pointer.value = v == "default" ? kPointerDefault
                          : v == "arrow" ? kPointerArrow
                          : v == "hand"  ? kPointerHand
                                         : i32(args[0]);
        if (u.pointer.value == kPointerCustom)
            throw Bad{"a custom pointer needs its image: pointer custom \"HEX\""};
    }
};

}  // namespace

ParseResult readDescription(std::string_view text, const RoutineCatalog& routines) {
    ParseResult result;
    Reader reader(routines);
    std::size_t lineNo = 0;
    try {
        while (!text.empty()) {
            ++lineNo;
            std::size_t nl = text.find('\n');
            std::string_view line = text.substr(0, nl);
            text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
            reader.line(tokenize(line));
        }
        ++lineNo;
        reader.finishUnit();
        if (reader.layout.units.empty()) throw Bad{"no units"};
        result.value = std::move(reader.layout);
    } catch (const Bad& b) {
        result.error = "line " + std::to_string(lineNo) + ": " + b.message;
    }
    return result;
}

}  // namespace vesperon::layout

#include "ui/layout/record_writer.h"

#include "ui/layout/gbk.h"
#include "ui/layout/type_fields.h"

namespace vesperon::layout {
namespace {

struct Failed {
    std::string message;
};

class Out {
public:
    std::vector<std::uint8_t> bytes;

    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void u16(std::uint16_t v) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
    void raw(const void* p, std::size_t n) {
        auto b = static_cast<const std::uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
    void cText(const std::string& utf8, const char* what) {
        std::string g = gbk(utf8, what);
        raw(g.data(), g.size());
        bytes.push_back(0);
    }
    void lenText(const std::string& utf8, const char* what) {
        std::string g = gbk(utf8, what);
        u32(static_cast<std::uint32_t>(g.size()));
        raw(g.data(), g.size());
    }
    void binary(const Binary& b) {
        u32(static_cast<std::uint32_t>(b.size()));
        raw(b.data(), b.size());
    }
    void patch32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }

    static std::string gbk(const std::string& utf8, const char* what) {
        if (utf8.find('\0') != std::string::npos) throw Failed{std::string(what) + " holds a NUL character"};
        auto g = utf8ToGbk(utf8);
        if (!g) throw Failed{std::string(what) + " \"" + utf8 + "\" cannot be written in GBK"};
        return *g;
    }
};

void writeFont(Out& o, const std::optional<Font>& f) {
    if (!f) {
        o.u32(0);
        return;
    }
    std::string face = Out::gbk(f->faceName, "font face name");
    if (face.size() > 31) throw Failed{"font face name \"" + f->faceName + "\" is longer than 31 bytes"};
    o.u32(kFontRecordSize);
    std::uint8_t fields[kFontFaceOffset];
    putFontFields(*f, fields);
    o.raw(fields, sizeof fields);
    o.raw(face.data(), face.size());
    o.zeros(kFontFaceSize - face.size());
}

struct FieldWriter {
    Out& o;
    std::uint32_t version;

    void operator()(const char*, std::int32_t& v, std::uint32_t since) {
        if (version >= since) o.i32(v);
    }
    void operator()(const char*, std::uint32_t& v, std::uint32_t since) {
        if (version >= since) o.u32(v);
    }
    void operator()(const char*, std::uint16_t& v, std::uint32_t since) {
        if (version >= since) o.u16(v);
    }
    void operator()(const char* name, std::string& v, std::uint32_t since) {
        if (version >= since) o.lenText(v, name);
    }
    void operator()(const char*, Binary& v, std::uint32_t since) {
        if (version >= since) o.binary(v);
    }
    void operator()(const char*, std::optional<Font>& v, std::uint32_t since) {
        if (version >= since) writeFont(o, v);
    }
    void operator()(const char* name, std::vector<std::string>& v, std::uint32_t since) {
        if (version < since) return;
        o.u32(static_cast<std::uint32_t>(v.size()));
        for (const auto& s : v) o.lenText(s, name);
    }
    void operator()(const char*, std::vector<std::int32_t>& v, std::uint32_t since) {
        if (version < since) return;
        o.u32(static_cast<std::uint32_t>(v.size()));
        for (auto x : v) o.i32(x);
    }
};

void writeUnit(Out& o, const Unit& u) {
    std::size_t lengthAt = o.bytes.size();
    o.u32(0);
    TypeCode code = codeOf(u.kind);
    o.u16(code.type);
    o.u16(code.library);
    o.zeros(20);
    o.cText(u.name, "name");
    o.cText(u.remark, "remark");
    o.u32(0);  // live widget slot
    o.i32(u.left);
    o.i32(u.top);
    o.i32(u.width);
    o.i32(u.height);
    o.u32(0);
    o.u32(u.parent);
    o.u32(static_cast<std::uint32_t>(u.children.size()));
    for (auto c : u.children) o.u32(c);
    o.u32(static_cast<std::uint32_t>(4 + u.pointer.image.size()));
    o.i32(u.pointer.value);
    o.raw(u.pointer.image.data(), u.pointer.image.size());
    o.cText(u.tag, "tag");
    o.u32(0);
    o.u32(u.stateFlags);
    o.u32(u.tabOrder);
    o.u32(static_cast<std::uint32_t>(u.bindings.size()));
    for (const auto& b : u.bindings) {
        o.i32(b.event);
        o.u32(static_cast<std::uint32_t>(b.routine));
    }
    o.zeros(20);
    if (!u.blockEmpty) {
        o.u32(u.blockVersion);
        TypeProps props = u.props;
        detail::visitFields(props, FieldWriter{o, u.blockVersion});
    }
    o.patch32(lengthAt, static_cast<std::uint32_t>(o.bytes.size() - lengthAt - 4));
}

}  // namespace

EncodeResult encode(const FormLayout& layout) {
    EncodeResult result;
    try {
        Out units;
        std::vector<std::uint32_t> offsets;
        for (const auto& u : layout.units) {
            offsets.push_back(static_cast<std::uint32_t>(units.bytes.size()));
            try {
                writeUnit(units, u);
            } catch (const Failed& f) {
                throw Failed{"unit " + u.name + ": " + f.message};
            }
        }
        Out o;
        for (auto h : layout.header) o.u32(h);
        auto count = static_cast<std::uint32_t>(layout.units.size());
        o.u32(count);
        o.u32(static_cast<std::uint32_t>(8 * count + units.bytes.size()));
        for (const auto& u : layout.units) o.u32(u.id);
        for (auto off : offsets) o.u32(off);
        o.raw(units.bytes.data(), units.bytes.size());
        result.value = std::move(o.bytes);
    } catch (const Failed& f) {
        result.error = f.message;
    }
    return result;
}

}  // namespace vesperon::layout

// The form layout record: the main window's own properties, its widgets, their geometry, initial
// properties and event bindings, as plain structs. `parse` turns the binary record (little-endian,
// GBK texts) into these structs, checking every length, offset, count and version; texts come out
// as UTF-8. Nothing here depends on Qt.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ui/result.h"

namespace vesperon::layout {

// ---- Routines that event bindings name ------------------------------------------------------

// The routines are the program's, not the framework's: a binding carries the routine's number
// (stored as u32 in the record; 0 is never a routine), and the program says which numbers and
// names it has by the catalog it hands to the readers.
using RoutineId = std::uint32_t;

struct RoutineCatalog {
    std::span<const std::string_view> names;  // routine n is names[n - 1]

    bool known(RoutineId id) const { return id >= 1 && id <= names.size(); }
    // Empty for an unknown number.
    std::string_view name(RoutineId id) const { return known(id) ? names[id - 1] : std::string_view(); }
    std::optional<RoutineId> fromName(std::string_view name) const;
};

// ---- Widget types ---------------------------------------------------------------------------

enum class Kind {
    Window,      // library 1, type 1
    EditBox,     // 1, 5
    GroupBox,    // 1, 9
    Label,       // 1, 10
    Button,      // 1, 11
    CheckBox,    // 1, 12
    ListBox,     // 1, 15
    VScrollBar,  // 1, 18
    SliderBar,   // 1, 20
    Timer,       // 1, 32
    SysVolume,   // 2, 1
    DropTarget,  // 5, 1
};

struct TypeCode {
    std::uint16_t type = 0;
    std::uint16_t library = 0;
    bool operator==(const TypeCode&) const = default;
};

std::string_view kindName(Kind k);  // "EditBox", "SysVolume", ...
std::optional<Kind> kindFromName(std::string_view name);
std::optional<Kind> kindFromCode(TypeCode code);
TypeCode codeOf(Kind k);
// The newest type-block version the loader knows; a newer block refuses the widget.
std::uint32_t newestBlockVersion(Kind k);

// ---- Values ---------------------------------------------------------------------------------

using Binary = std::vector<std::uint8_t>;  // picture, icon, sound: kept as stored

// Colours are 0x00BBGGRR; this value stands for the system's button-face colour.
inline constexpr std::uint32_t kButtonFace = 0xFF000000u;

// The 60-byte logical-font record. Absent (std::nullopt) = the system font.
struct Font {
    std::int32_t height = 0;  // < 0: character height in pixels; > 0: cell height
    std::int32_t width = 0;
    std::int32_t escapement = 0;  // tenths of a degree
    std::int32_t orientation = 0;
    std::int32_t weight = 400;  // 700 = bold
    std::uint8_t italic = 0;
    std::uint8_t underline = 0;
    std::uint8_t strikeOut = 0;
    std::uint8_t charSet = 0;  // 134 = GB2312
    std::uint8_t outPrecision = 0;
    std::uint8_t clipPrecision = 0;
    std::uint8_t quality = 0;
    std::uint8_t pitchAndFamily = 0;
    std::string faceName;  // UTF-8; at most 31 GBK bytes when stored

    int pixelSize() const { return height < 0 ? -height : height; }
    bool bold() const { return weight >= 700; }
    bool operator==(const Font&) const = default;
};
inline constexpr std::size_t kFontRecordSize = 60;
// The face name's place in the record: a NUL-terminated text of at most 32 bytes.
inline constexpr std::size_t kFontFaceOffset = 28, kFontFaceSize = 32;
// The fields before the face name (bytes 0-27, little-endian): writes them / reads them into a
// Font whose face name is left empty. Everyone who stores a font record goes through these.
void putFontFields(const Font& f, std::uint8_t* out);
Font fontFields(const std::uint8_t* in);

// ---- Type blocks: fields in their stored order, each at its default ------------------------
// Comments give the widget property number where it differs from the obvious.

struct WindowProps {
    std::int32_t borderStyle = 2;  // 0 none, 1 resizable, 2 fixed, 3..6 tool/sunken variants
    std::int32_t pictureMode = 0;
    std::uint32_t backgroundColour = kButtonFace;
    std::int32_t maximiseButton = 0;
    std::int32_t minimiseButton = 1;
    std::int32_t controlBox = 1;
    std::int32_t startPosition = 1;  // 0 as stored, 1 centred, 2 minimised, 3 maximised
    std::int32_t movable = 1;
    std::int32_t musicSetting = 0;
    std::int32_t enterMovesFocus = 0;
    std::int32_t escCloses = 0;
    std::int32_t f1OpensHelp = 0;
    std::int32_t helpTopic = 0;
    std::int32_t showInTaskBar = 1;       // from version 2
    std::int32_t dragAnywhere = 0;        // from version 3
    std::int32_t shape = 0;               // from version 3
    std::int32_t alwaysOnTop = 0;         // from version 4
    std::int32_t keepTitleBarActive = 0;  // from version 5
    std::string className;                // from version 6
    Binary picture;
    Binary icon;
    Binary music;
    std::string caption;
    std::string helpFile;
    bool operator==(const WindowProps&) const = default;
};

struct ButtonProps {
    std::int32_t defaultButton = 0;
    std::int32_t hAlign = 1;  // 0 left, 1 centre, 2 right
    std::int32_t vAlign = 1;  // 0 top, 1 centre, 2 bottom
    Binary picture;
    std::optional<Font> font;
    std::string caption;
    bool operator==(const ButtonProps&) const = default;
};

struct CheckBoxProps {
    std::int32_t pushLike = 0;
    std::int32_t flat = 0;
    std::int32_t captionOnLeft = 0;
    std::int32_t hAlign = 0;
    std::int32_t vAlign = 1;
    std::uint32_t textColour = 0;
    std::uint32_t backgroundColour = kButtonFace;
    std::int32_t checked = 0;
    Binary picture;
    std::optional<Font> font;
    std::string caption;
    std::string extraText1;  // from version 2 (properties 19, 20)
    std::string extraText2;
    bool operator==(const CheckBoxProps&) const = default;
};

struct LabelProps {
    std::int32_t effect = 0;
    std::int32_t decorWidth = 8;
    std::int32_t decorChoice1 = 0;
    std::uint32_t decorColour1 = 0x808080;
    std::uint32_t decorColour2 = 0xFFFFFF;
    std::uint32_t decorColour3 = 0x808080;
    std::uint32_t textColour = 0;
    std::uint32_t backgroundColour = kButtonFace;
    std::int32_t decorChoice2 = 1;
    std::int32_t decorChoice3 = 0;
    std::uint32_t decorColour4 = 0x808080;
    std::uint32_t decorColour5 = 0xFFFFFF;
    std::uint32_t decorColour6 = 0x808080;
    std::int32_t hAlign = 0;  // property 24
    std::int32_t vAlign = 1;  // property 26
    std::int32_t wordWrap = 0;
    std::optional<Font> font;
    Binary picture;
    std::string caption;
    std::string extraText;  // from version 2
    bool operator==(const LabelProps&) const = default;
};

struct EditBoxProps {
    std::int32_t border = 1;  // border styles 0..5
    std::uint32_t textColour = 0;
    std::uint32_t backgroundColour = 0xFFFFFF;
    std::int32_t hideSelection = 0;
    std::int32_t maxLength = 0;  // 0 = no limit
    std::int32_t multiLine = 0;
    std::int32_t scrollBars = 0;
    std::int32_t alignment = 0;
    std::int32_t inputMode = 0;      // 0..11
    std::uint16_t passwordChar = 0;  // stored as u16
    std::int32_t caseConversion = 0;
    std::int32_t spinBox = 0;
    std::int32_t spinMinimum = 0;
    std::int32_t spinMaximum = 100;
    std::int32_t selectionStart = 0;
    std::int32_t selectionLength = 0;
    std::optional<Font> font;
    std::string content;
    std::string extraText1;  // from version 2 (properties 27, 28)
    std::string extraText2;
    bool operator==(const EditBoxProps&) const = default;
};

struct GroupBoxProps {
    std::int32_t captionAlignment = 0;
    std::uint32_t textColour = 0;
    std::uint32_t backgroundColour = kButtonFace;
    std::optional<Font> font;
    std::string caption;
    bool operator==(const GroupBoxProps&) const = default;
};

struct ListBoxProps {
    std::int32_t border = 1;
    std::int32_t sorted = 0;
    std::int32_t multiColumn = 0;
    std::int32_t extraRowHeight = 0;
    std::uint32_t textColour = 0;
    std::uint32_t backgroundColour = 0xFFFFFF;
    std::int32_t multipleSelection = 0;
    std::int32_t selectedIndex = -1;
    std::optional<Font> font;
    std::vector<std::string> itemTexts;    // stored: u32 count, then each as a text
    std::vector<std::int32_t> itemValues;  // stored: u32 count, then each as u32
    bool operator==(const ListBoxProps&) const = default;
};

struct VScrollBarProps {
    std::int32_t minimum = 1;
    std::int32_t maximum = 100;
    std::int32_t pageChange = 10;
    std::int32_t lineChange = 1;
    std::int32_t position = 1;
    std::int32_t trackWhileDragging = 1;
    bool operator==(const VScrollBarProps&) const = default;
};

struct SliderBarProps {
    std::int32_t border = 0;
    std::int32_t orientation = 0;  // 0 horizontal, 1 vertical
    std::int32_t tickStyle = 0;    // 0 none, 1 above/left, 2 below/right, 3 both
    std::int32_t tickFrequency = 1;
    std::int32_t selectionRangeEnabled = 0;
    std::int32_t selectionStart = 0;
    std::int32_t selectionLength = 0;
    std::int32_t pageSize = 5;
    std::int32_t lineSize = 1;
    std::int32_t minimum = 1;
    std::int32_t maximum = 100;
    std::int32_t position = 1;
    bool operator==(const SliderBarProps&) const = default;
};

struct TimerProps {
    std::int32_t interval = 0;  // ms; 0 = stopped
    bool operator==(const TimerProps&) const = default;
};

// The system-volume widget keeps nothing in the record beyond the block version.
struct SysVolumeProps {
    bool operator==(const SysVolumeProps&) const = default;
};

struct DropTargetProps {
    std::int32_t acceptText = 0;
    std::int32_t acceptHtml = 0;
    std::int32_t acceptUrl = 0;
    std::int32_t acceptFiles = 0;
    bool operator==(const DropTargetProps&) const = default;
};

// Alternatives in the order of Kind.
using TypeProps =
    std::variant<WindowProps, EditBoxProps, GroupBoxProps, LabelProps, ButtonProps, CheckBoxProps,
                 ListBoxProps, VScrollBarProps, SliderBarProps, TimerProps, SysVolumeProps, DropTargetProps>;

// The defaults of a kind (what an empty type block gives).
TypeProps defaultProps(Kind k);

// ---- Units ------------------------------------------------------------------------------------

// Standard pointer numbers.
inline constexpr std::int32_t kPointerDefault = 0;
inline constexpr std::int32_t kPointerArrow = 32512;
inline constexpr std::int32_t kPointerHand = 32649;
inline constexpr std::int32_t kPointerCustom = -1;  // followed by image data

struct MousePointer {
    std::int32_t value = kPointerDefault;
    Binary image;  // only with kPointerCustom
    bool operator==(const MousePointer&) const = default;
};

inline constexpr std::uint32_t kStateVisible = 1u << 0;
inline constexpr std::uint32_t kStateDisabled = 1u << 1;
inline constexpr std::uint32_t kStateFocusable = 1u << 2;

struct EventBinding {
    std::int32_t event = 0;  // type events from 0, common input events -1..-12
    RoutineId routine = 0;
    bool operator==(const EventBinding&) const = default;
};

struct Unit {
    std::uint32_t id = 0;
    Kind kind = Kind::Window;
    std::string name;                                       // UTF-8; empty for the window
    std::string remark;                                     // UTF-8
    std::int32_t left = 0, top = 0, width = 0, height = 0;  // relative to the parent's client area
    std::uint32_t parent = 0;                               // 0 = the window itself
    std::vector<std::uint32_t> children;                    // only group boxes have any
    MousePointer pointer;
    std::string tag;  // UTF-8
    std::uint32_t stateFlags = 0;
    std::uint32_t tabOrder = 0;
    std::vector<EventBinding> bindings;
    bool blockEmpty = true;          // the type block held no bytes: props are the defaults
    std::uint32_t blockVersion = 0;  // as stored (0 when empty)
    TypeProps props;

    bool visible() const { return stateFlags & kStateVisible; }
    bool disabled() const { return stateFlags & kStateDisabled; }
    bool focusable() const { return stateFlags & kStateFocusable; }
    std::optional<RoutineId> routineFor(std::int32_t event) const;
    template <class T>
    const T* as() const {
        return std::get_if<T>(&props);
    }
    bool operator==(const Unit&) const = default;
};

// A unit whose type block was too new (or whose type is unknown): the widget is not created.
struct RefusedUnit {
    std::uint32_t id = 0;
    std::string name;
    TypeCode code;
    std::uint32_t blockVersion = 0;
    std::string reason;
    bool operator==(const RefusedUnit&) const = default;
};

inline constexpr std::uint32_t kHeaderFormat = 8;  // the header's first value
inline constexpr std::uint32_t kMainWindowId = 0x52010001u;

struct FormLayout {
    std::array<std::uint32_t, 7> header{kHeaderFormat, kMainWindowId, 0, 0, 0, 0, 0};
    std::vector<Unit> units;  // record order; the window is first; refused units left out
    std::vector<RefusedUnit> refused;

    std::uint32_t windowId() const { return header[1]; }
    const Unit& window() const { return units.front(); }
    const Unit* find(std::uint32_t id) const;
    const Unit* find(std::string_view name) const;
    bool operator==(const FormLayout&) const = default;
};

// On failure the error says what and where (byte offset).
using ParseResult = Result<FormLayout>;

// Reads a record. A malformed record gives an error and an empty layout; it never reads outside
// `bytes`. A widget with a too-new type block is listed in `refused`, the rest loads. A binding
// to a routine the catalog does not know makes the record malformed.
ParseResult parse(std::span<const std::uint8_t> bytes, const RoutineCatalog& routines);

// The main window's record, generated from resources/main_window.layout at build time.
std::span<const std::uint8_t> mainWindowRecord();
ParseResult loadMainWindow(const RoutineCatalog& routines);

}  // namespace vesperon::layout

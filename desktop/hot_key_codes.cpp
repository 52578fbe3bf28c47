#include "desktop/hot_key_codes.h"

#include <X11/X.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

namespace vesperon::desktop {

uint32_t modifierFlagsFromCode(int code) {
    static constexpr uint32_t kFlags[8] = {
        0,       kModControl,           kModShift,           kModControl | kModShift,
        kModAlt, kModControl | kModAlt, kModShift | kModAlt, kModControl | kModShift | kModAlt};
    if (code >= 0 && code < 8) return kFlags[code];
    return static_cast<uint32_t>(code);
}

uint32_t keysymForVirtualKey(uint32_t vk) {
    if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
    if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
    if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
    switch (vk) {
        case 0x08:
            return XK_BackSpace;
        case 0x09:
            return XK_Tab;
        case 0x0C:
            return XK_Clear;
        case 0x0D:
            return XK_Return;
        case 0x13:
            return XK_Pause;
        case 0x14:
            return XK_Caps_Lock;
        case 0x1B:
            return XK_Escape;
        case 0x20:
            return XK_space;
        case 0x21:
            return XK_Page_Up;
        case 0x22:
            return XK_Page_Down;
        case 0x23:
            return XK_End;
        case 0x24:
            return XK_Home;
        case 0x25:
            return XK_Left;
        case 0x26:
            return XK_Up;
        case 0x27:
            return XK_Right;
        case 0x28:
            return XK_Down;
        case 0x2C:
            return XK_Print;
        case 0x2D:
            return XK_Insert;
        case 0x2E:
            return XK_Delete;
        case 0x2F:
            return XK_Help;
        case 0x6A:
            return XK_KP_Multiply;
        case 0x6B:
            return XK_KP_Add;
        case 0x6C:
            return XK_KP_Separator;
        case 0x6D:
            return XK_KP_Subtract;
        case 0x6E:
            return XK_KP_Decimal;
        case 0x6F:
            return XK_KP_Divide;
        case 0x90:
            return XK_Num_Lock;
        case 0x91:
            return XK_Scroll_Lock;
        case 0xAD:
            return XF86XK_AudioMute;
        case 0xAE:
            return XF86XK_AudioLowerVolume;
        case 0xAF:
            return XF86XK_AudioRaiseVolume;
        case 0xB0:
            return XF86XK_AudioNext;
        case 0xB1:
            return XF86XK_AudioPrev;
        case 0xB2:
            return XF86XK_AudioStop;
        case 0xB3:
            return XF86XK_AudioPlay;
        case 0xBA:
            return XK_semicolon;
        case 0xBB:
            return XK_equal;
        case 0xBC:
            return XK_comma;
        case 0xBD:
            return XK_minus;
        case 0xBE:
            return XK_period;
        case 0xBF:
            return XK_slash;
        case 0xC0:
            return XK_grave;
        case 0xDB:
            return XK_bracketleft;
        case 0xDC:
            return XK_backslash;
        case 0xDD:
            return XK_bracketright;
        case 0xDE:
            return XK_apostrophe;
        default:
            return 0;
    }
}

bool xModifierMask(uint32_t flags, uint16_t& mask) {
    flags &= ~kModNoRepeat;  // accepted; key repeats arrive as the keyboard sends them
    if (flags & ~(kModAlt | kModControl | kModShift | kModWin)) return false;
    mask = 0;
    if (flags & kModAlt) mask |= Mod1Mask;
    if (flags & kModControl) mask |= ControlMask;
    if (flags & kModShift) mask |= ShiftMask;
    if (flags & kModWin) mask |= Mod4Mask;
    return true;
}

}  // namespace vesperon::desktop

#include "ui/virtual_keys.h"

#include <QKeyEvent>
#include <array>
#include <utility>

namespace vesperon::ui {
namespace {

constexpr std::array<std::pair<int, std::int32_t>, 46> kKeys{{
    {Qt::Key_Backspace, 0x08},   {Qt::Key_Tab, 0x09},       {Qt::Key_Backtab, 0x09},
    {Qt::Key_Clear, 0x0C},       {Qt::Key_Return, 0x0D},    {Qt::Key_Enter, 0x0D},
    {Qt::Key_Shift, 0x10},       {Qt::Key_Control, 0x11},   {Qt::Key_Alt, 0x12},
    {Qt::Key_Pause, 0x13},       {Qt::Key_CapsLock, 0x14},  {Qt::Key_Escape, 0x1B},
    {Qt::Key_Space, 0x20},       {Qt::Key_PageUp, 0x21},    {Qt::Key_PageDown, 0x22},
    {Qt::Key_End, 0x23},         {Qt::Key_Home, 0x24},      {Qt::Key_Left, 0x25},
    {Qt::Key_Up, 0x26},          {Qt::Key_Right, 0x27},     {Qt::Key_Down, 0x28},
    {Qt::Key_Select, 0x29},      {Qt::Key_Print, 0x2A},     {Qt::Key_Execute, 0x2B},
    {Qt::Key_SysReq, 0x2C},      {Qt::Key_Insert, 0x2D},    {Qt::Key_Delete, 0x2E},
    {Qt::Key_Help, 0x2F},        {Qt::Key_Meta, 0x5B},      {Qt::Key_Menu, 0x5D},
    {Qt::Key_Sleep, 0x5F},       {Qt::Key_NumLock, 0x90},   {Qt::Key_ScrollLock, 0x91},
    {Qt::Key_Semicolon, 0xBA},   {Qt::Key_Colon, 0xBA},     {Qt::Key_Equal, 0xBB},
    {Qt::Key_Plus, 0xBB},        {Qt::Key_Comma, 0xBC},     {Qt::Key_Minus, 0xBD},
    {Qt::Key_Period, 0xBE},      {Qt::Key_Slash, 0xBF},     {Qt::Key_QuoteLeft, 0xC0},
    {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_Backslash, 0xDC}, {Qt::Key_BracketRight, 0xDD},
    {Qt::Key_Apostrophe, 0xDE},
}};

}  // namespace

std::int32_t virtualKeyOfQtKey(int key, bool keypad) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return keypad ? 0x60 + (key - Qt::Key_0) : 0x30 + (key - Qt::Key_0);
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return 0x41 + (key - Qt::Key_A);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 0x70 + (key - Qt::Key_F1);
    if (keypad) {
        switch (key) {
            case Qt::Key_Asterisk:
                return 0x6A;
            case Qt::Key_Plus:
                return 0x6B;
            case Qt::Key_Minus:
                return 0x6D;
            case Qt::Key_Period:
                return 0x6E;
            case Qt::Key_Slash:
                return 0x6F;
            default:
                break;
        }
    }
    for (auto [qt, vk] : kKeys)
        if (qt == key) return vk;
    return 0;
}

std::int32_t virtualKeyOf(const QKeyEvent& event) {
    return virtualKeyOfQtKey(event.key(), event.modifiers() & Qt::KeypadModifier);
}

int qtKeyOfVirtualKey(std::int32_t vk) {
    if (vk >= 0x30 && vk <= 0x39) return Qt::Key_0 + (vk - 0x30);
    if (vk >= 0x41 && vk <= 0x5A) return Qt::Key_A + (vk - 0x41);
    if (vk >= 0x60 && vk <= 0x69) return Qt::Key_0 + (vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87) return Qt::Key_F1 + (vk - 0x70);
    for (auto [qt, code] : kKeys)
        if (code == vk) return qt;
    return 0;
}

std::int32_t keyStateOf(int modifiers) {
    std::int32_t s = 0;
    if (modifiers & Qt::ControlModifier) s |= 1;
    if (modifiers & Qt::ShiftModifier) s |= 2;
    if (modifiers & Qt::AltModifier) s |= 4;
    return s;
}

}  // namespace vesperon::ui

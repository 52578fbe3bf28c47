// The fields of each type block in their stored order, with the block version that first holds
// each one. The binary reader, the binary writer and the description reader all walk these lists,
// so the three can never disagree about the order.
//
// A visitor is called as v(name, member, sinceVersion) for every field; member is one of
// std::int32_t, std::uint32_t, std::uint16_t, std::string, Binary, std::optional<Font>,
// std::vector<std::string>, std::vector<std::int32_t>.
#pragma once

#include "ui/layout/form_layout.h"

namespace vesperon::layout::detail {

template <class V>
void visitFields(WindowProps& p, V&& v) {
    v("borderStyle", p.borderStyle, 0);
    v("pictureMode", p.pictureMode, 0);
    v("backgroundColour", p.backgroundColour, 0);
    v("maximiseButton", p.maximiseButton, 0);
    v("minimiseButton", p.minimiseButton, 0);
    v("controlBox", p.controlBox, 0);
    v("startPosition", p.startPosition, 0);
    v("movable", p.movable, 0);
    v("musicSetting", p.musicSetting, 0);
    v("enterMovesFocus", p.enterMovesFocus, 0);
    v("escCloses", p.escCloses, 0);
    v("f1OpensHelp", p.f1OpensHelp, 0);
    v("helpTopic", p.helpTopic, 0);
    v("showInTaskBar", p.showInTaskBar, 2);
    v("dragAnywhere", p.dragAnywhere, 3);
    v("shape", p.shape, 3);
    v("alwaysOnTop", p.alwaysOnTop, 4);
    v("keepTitleBarActive", p.keepTitleBarActive, 5);
    v("className", p.className, 6);
    v("picture", p.picture, 0);
    v("icon", p.icon, 0);
    v("music", p.music, 0);
    v("caption", p.caption, 0);
    v("helpFile", p.helpFile, 0);
}

template <class V>
void visitFields(ButtonProps& p, V&& v) {
    v("defaultButton", p.defaultButton, 0);
    v("hAlign", p.hAlign, 0);
    v("vAlign", p.vAlign, 0);
    v("picture", p.picture, 0);
    v("font", p.font, 0);
    v("caption", p.caption, 0);
}

template <class V>
void visitFields(CheckBoxProps& p, V&& v) {
    v("pushLike", p.pushLike, 0);
    v("flat", p.flat, 0);
    v("captionOnLeft", p.captionOnLeft, 0);
    v("hAlign", p.hAlign, 0);
    v("vAlign", p.vAlign, 0);
    v("textColour", p.textColour, 0);
    v("backgroundColour", p.backgroundColour, 0);
    v("checked", p.checked, 0);
    v("picture", p.picture, 0);
    v("font", p.font, 0);
    v("caption", p.caption, 0);
    v("extraText1", p.extraText1, 2);
    v("extraText2", p.extraText2, 2);
}

template <class V>
void visitFields(LabelProps& p, V&& v) {
    v("effect", p.effect, 0);
    v("decorWidth", p.decorWidth, 0);
    v("decorChoice1", p.decorChoice1, 0);
    v("decorColour1", p.decorColour1, 0);
    v("decorColour2", p.decorColour2, 0);
    v("decorColour3", p.decorColour3, 0);
    v("textColour", p.textColour, 0);
    v("backgroundColour", p.backgroundColour, 0);
    v("decorChoice2", p.decorChoice2, 0);
    v("decorChoice3", p.decorChoice3, 0);
    v("decorColour4", p.decorColour4, 0);
    v("decorColour5", p.decorColour5, 0);
    v("decorColour6", p.decorColour6, 0);
    v("hAlign", p.hAlign, 0);
    v("vAlign", p.vAlign, 0);
    v("wordWrap", p.wordWrap, 0);
    v("font", p.font, 0);
    v("picture", p.picture, 0);
    v("caption", p.caption, 0);
    v("extraText", p.extraText, 2);
}

template <class V>
void visitFields(EditBoxProps& p, V&& v) {
    v("border", p.border, 0);
    v("textColour", p.textColour, 0);
    v("backgroundColour", p.backgroundColour, 0);
    v("hideSelection", p.hideSelection, 0);
    v("maxLength", p.maxLength, 0);
    v("multiLine", p.multiLine, 0);
    v("scrollBars", p.scrollBars, 0);
    v("alignment", p.alignment, 0);
    v("inputMode", p.inputMode, 0);
    v("passwordChar", p.passwordChar, 0);
    v("caseConversion", p.caseConversion, 0);
    v("spinBox", p.spinBox, 0);
    v("spinMinimum", p.spinMinimum, 0);
    v("spinMaximum", p.spinMaximum, 0);
    v("selectionStart", p.selectionStart, 0);
    v("selectionLength", p.selectionLength, 0);
    v("font", p.font, 0);
    v("content", p.content, 0);
    v("extraText1", p.extraText1, 2);
    v("extraText2", p.extraText2, 2);
}

template <class V>
void visitFields(GroupBoxProps& p, V&& v) {
    v("captionAlignment", p.captionAlignment, 0);
    v("textColour", p.textColour, 0);
    v("backgroundColour", p.backgroundColour, 0);
    v("font", p.font, 0);
    v("caption", p.caption, 0);
}

template <class V>
void visitFields(ListBoxProps& p, V&& v) {
    v("border", p.border, 0);
    v("sorted", p.sorted, 0);
    v("multiColumn", p.multiColumn, 0);
    v("extraRowHeight", p.extraRowHeight, 0);
    v("textColour", p.textColour, 0);
    v("backgroundColour", p.backgroundColour, 0);
    v("multipleSelection", p.multipleSelection, 0);
    v("selectedIndex", p.selectedIndex, 0);
    v("font", p.font, 0);
    v("itemTexts", p.itemTexts, 0);
    v("itemValues", p.itemValues, 0);
}

template <class V>
void visitFields(VScrollBarProps& p, V&& v) {
    v("minimum", p.minimum, 0);
    v("maximum", p.maximum, 0);
    v("pageChange", p.pageChange, 0);
    v("lineChange", p.lineChange, 0);
    v("position", p.position, 0);
    v("trackWhileDragging", p.trackWhileDragging, 0);
}

template <class V>
void visitFields(SliderBarProps& p, V&& v) {
    v("border", p.border, 0);
    v("orientation", p.orientation, 0);
    v("tickStyle", p.tickStyle, 0);
    v("tickFrequency", p.tickFrequency, 0);
    v("selectionRangeEnabled", p.selectionRangeEnabled, 0);
    v("selectionStart", p.selectionStart, 0);
    v("selectionLength", p.selectionLength, 0);
    v("pageSize", p.pageSize, 0);
    v("lineSize", p.lineSize, 0);
    v("minimum", p.minimum, 0);
    v("maximum", p.maximum, 0);
    v("position", p.position, 0);
}

template <class V>
void visitFields(TimerProps& p, V&& v) {
    v("interval", p.interval, 0);
}

template <class V>
void visitFields(SysVolumeProps&, V&&) {}

template <class V>
void visitFields(DropTargetProps& p, V&& v) {
    v("acceptText", p.acceptText, 0);
    v("acceptHtml", p.acceptHtml, 0);
    v("acceptUrl", p.acceptUrl, 0);
    v("acceptFiles", p.acceptFiles, 0);
}

template <class V>
void visitFields(TypeProps& props, V&& v) {
    std::visit([&](auto& p) { visitFields(p, v); }, props);
}

}  // namespace vesperon::layout::detail

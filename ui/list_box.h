#pragma once
// ListBox: a list of text items, each with one integer value. Event 0 when the user changes the
// selection, 1 when the user double-clicks an item; the logic's writes and item operations raise
// nothing.

#include <optional>

#include "ui/widget.h"

class QListWidget;

namespace vesperon::ui {

enum ListBoxProperty : int {
    kListBorder = 8,
    kListSorted = 9,
    kListMultiColumn = 10,
    kListExtraRowHeight = 11,
    kListTextColour = 12,
    kListBackground = 13,
    kListFont = 14,
    kListMultipleSelection = 15,
    kListSelectedIndex = 16,
    kListItemTexts = 17,
    kListItemValues = 18,
};
inline constexpr int kListSelectionChanged = 0;
inline constexpr int kListItemDoubleClicked = 1;

class ListBox : public Widget {
    Q_OBJECT
public:
    ListBox(Form& form, const layout::Unit& unit);
    const layout::ListBoxProps& props() const { return props_; }
    QListWidget* list() const;

    // The list operations of the logic.
    std::int32_t itemCount() const;
    // The new item's index (the last one when unsorted), or -1 when the list refuses it.
    std::int32_t addItem(const std::string& text, std::optional<std::int32_t> value = std::nullopt);
    void clear();
    std::string itemText(std::int32_t index) const;    // empty outside the list
    std::int32_t itemValue(std::int32_t index) const;  // 0 outside the list
    bool removeItem(std::int32_t index);
    std::int32_t selectedIndex() const;
    void setSelectedIndex(std::int32_t index);

protected:
    QWidget* createLive(QWidget* parent) override;
    Value typeProperty(int number) override;
    bool setTypeProperty(int number, const Value& value) override;
    int fontPropertyNumber() const override { return kListFont; }
    std::vector<QWidget*> inputWidgets() const override;
    void liveDestroying() override;

private:
    void applyLook(QListWidget* l);
    void applySelection(QListWidget* l, std::int32_t index);

    layout::ListBoxProps props_;
    std::int32_t extra_[3] = {0, 0, 0};  // properties 19-21, inactive here
    bool writing_ = false;               // a change made by the logic, not the user
};

}  // namespace vesperon::ui

#include "ui/list_box.h"

#include <QFontMetrics>
#include <QListWidget>
#include <QStyledItemDelegate>

#include "ui/appearance.h"

namespace vesperon::ui {
namespace {

constexpr int kValueRole = Qt::UserRole + 1;

// Rows are as high as the font's row plus the extra row height.
class RowHeightDelegate : public QStyledItemDelegate {
public:
    RowHeightDelegate(const std::int32_t& extra, QObject* parent)
        : QStyledItemDelegate(parent), extra_(extra) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(QFontMetrics(option.font).height() + extra_);
        return s;
    }

private:
    const std::int32_t& extra_;
};

QFrame::Shape frameShapeOf(int border) {
    return border == 0 ? QFrame::NoFrame : QFrame::StyledPanel;
}

}  // namespace

ListBox::ListBox(Form& form, const layout::Unit& unit) : Widget(form, unit) {
    if (auto* p = unit.as<layout::ListBoxProps>()) props_ = *p;
    props_.extraRowHeight = clampInt(props_.extraRowHeight, 0, 32767);
}

QListWidget* ListBox::list() const {
    return static_cast<QListWidget*>(live());
}

void ListBox::applyLook(QListWidget* l) {
    l->setFrameShape(frameShapeOf(props_.border));
    l->setFrameShadow(props_.border == 2 ? QFrame::Raised : QFrame::Sunken);
    setRoleColour(l, QPalette::Text, props_.textColour);
    setRoleColour(l, QPalette::Base, props_.backgroundColour);
}

QWidget* ListBox::createLive(QWidget* parent) {
    auto* l = new QListWidget(parent);
    l->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    l->setSelectionMode(props_.multipleSelection ? QAbstractItemView::ExtendedSelection
                                                 : QAbstractItemView::SingleSelection);
    l->setSortingEnabled(props_.sorted != 0);
    if (props_.multiColumn) {
        l->setFlow(QListView::TopToBottom);
        l->setWrapping(true);
        l->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
    l->setItemDelegate(new RowHeightDelegate(props_.extraRowHeight, l));
    applyFont(l, props_.font);
    applyLook(l);
    writing_ = true;
    for (std::size_t i = 0; i < props_.itemTexts.size(); ++i) {
        auto* item = new QListWidgetItem(QString::fromUtf8(props_.itemTexts[i]));
        item->setData(kValueRole, i < props_.itemValues.size() ? props_.itemValues[i] : 0);
        l->addItem(item);
    }
    writing_ = false;
    connect(l, &QListWidget::itemSelectionChanged, this, [this] {
        if (!writing_) raiseEvent(kListSelectionChanged);
    });
    connect(l, &QListWidget::itemDoubleClicked, this, [this] { raiseEvent(kListItemDoubleClicked); });
    applySelection(l, props_.selectedIndex);  // clamped like a write
    return l;
}

std::vector<QWidget*> ListBox::inputWidgets() const {
    if (!live()) return {};
    return {list(), list()->viewport()};
}

void ListBox::liveDestroying() {
    if (QListWidget* l = list()) {
        disconnect(l, nullptr, this, nullptr);
        l->viewport()->removeEventFilter(this);
    }
}

std::int32_t ListBox::itemCount() const {
    return list() ? list()->count() : 0;
}

std::int32_t ListBox::addItem(const std::string& text, std::optional<std::int32_t> value) {
    QListWidget* l = list();
    if (!l) return -1;
    auto* item = new QListWidgetItem(QString::fromUtf8(text));
    item->setData(kValueRole, value.value_or(0));
    writing_ = true;
    l->addItem(item);
    writing_ = false;
    return l->row(item);
}

void ListBox::clear() {
    if (QListWidget* l = list()) {
        writing_ = true;
        l->clear();
        writing_ = false;
    }
}

std::string ListBox::itemText(std::int32_t index) const {
    QListWidget* l = list();
    if (!l || index < 0 || index >= l->count()) return {};
    return l->item(index)->text().toStdString();
}

std::int32_t ListBox::itemValue(std::int32_t index) const {
    QListWidget* l = list();
    if (!l || index < 0 || index >= l->count()) return 0;
    return l->item(index)->data(kValueRole).toInt();
}

bool ListBox::removeItem(std::int32_t index) {
    QListWidget* l = list();
    if (!l || index < 0 || index >= l->count()) return false;
    writing_ = true;
    delete l->takeItem(index);
    writing_ = false;
    return true;
}

std::int32_t ListBox::selectedIndex() const {
    QListWidget* l = list();
    if (!l || props_.multipleSelection) return -1;
    const auto selected = l->selectedItems();
    return selected.isEmpty() ? -1 : l->row(selected.front());
}

void ListBox::setSelectedIndex(std::int32_t index) {
    if (QListWidget* l = list()) applySelection(l, index);
}

void ListBox::applySelection(QListWidget* l, std::int32_t index) {
    index = std::min(index, l->count() - 1);
    index = std::max(index, -1);
    writing_ = true;
    if (index < 0) {
        l->clearSelection();
        l->setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
    } else {
        l->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
        l->scrollToItem(l->item(index));
    }
    writing_ = false;
}

Value ListBox::typeProperty(int number) {
    switch (number) {
        case kListBorder:
            return props_.border;
        case kListSorted:
            return props_.sorted;
        case kListMultiColumn:
            return props_.multiColumn;
        case kListExtraRowHeight:
            return props_.extraRowHeight;
        case kListTextColour:
            return std::int32_t(props_.textColour);
        case kListBackground:
            return std::int32_t(props_.backgroundColour);
        case kListFont:
            return props_.font ? encodeFont(*props_.font) : Bytes{};
        case kListMultipleSelection:
            return props_.multipleSelection;
        case kListSelectedIndex:
            return selectedIndex();
        case kListItemTexts: {
            // The items present at creation, one per line.
            std::string all;
            for (const auto& t : props_.itemTexts) all += t + "\r\n";
            return all;
        }
        case kListItemValues: {
            Bytes b;
            for (std::int32_t v : props_.itemValues)
                for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(std::uint32_t(v) >> (8 * i)));
            return b;
        }
        case 19:
        case 20:
        case 21:
            return extra_[number - 19];
        default:
            return std::int32_t(-1);
    }
}

bool ListBox::setTypeProperty(int number, const Value& value) {
    QListWidget* l = list();
    const std::int32_t n = intOf(value);
    switch (number) {
        case kListBorder:
            props_.border = clampInt(n, 0, 5);
            applyLook(l);
            return true;
        case kListSorted:
            props_.sorted = n != 0;
            return true;  // takes effect when created
        case kListMultiColumn:
            props_.multiColumn = n != 0;
            return true;  // takes effect when created
        case kListExtraRowHeight:
            props_.extraRowHeight = clampInt(n, 0, 32767);
            l->doItemsLayout();
            return true;
        case kListTextColour:
            props_.textColour = std::uint32_t(n);
            applyLook(l);
            return true;
        case kListBackground:
            props_.backgroundColour = std::uint32_t(n);
            applyLook(l);
            return true;
        case kListFont:
            props_.font = decodeFont(bytesOf(value));
            applyFont(l, props_.font);
            l->doItemsLayout();
            return true;
        case kListMultipleSelection:
            props_.multipleSelection = n != 0;
            return true;  // when created
        case kListSelectedIndex:
            setSelectedIndex(n);
            return true;
        case kListItemTexts:
            return true;  // the creation items; stored in the record only
        case kListItemValues:
            return true;
        case 19:
        case 20:
        case 21:
            extra_[number - 19] = n;
            return true;
        default:
            return false;
    }
}

}  // namespace vesperon::ui

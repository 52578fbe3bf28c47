#include "desktop/rest_days_dialog.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace vesperon::desktop {
namespace {

const QDate kEpoch(1970, 1, 1);

QDate toQDate(std::chrono::sys_days day) {
    return kEpoch.addDays(day.time_since_epoch().count());
}
std::chrono::sys_days toSysDays(const QDate& date) {
    return std::chrono::sys_days(std::chrono::days(kEpoch.daysTo(date)));
}

bool earlier(const app::DateRange& a, const app::DateRange& b) {
    return a.from != b.from ? a.from < b.from : a.to < b.to;
}

QDateEdit* dateEdit(const char* name, QWidget* parent) {
    auto* edit = new QDateEdit(QDate::currentDate(), parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setCalendarPopup(true);
    return edit;
}

}  // namespace

QString RestDayText(const app::DateRange& range) {
    const QString from = toQDate(range.from).toString(Qt::ISODate);
    if (range.to == range.from) return from;
    return from + QStringLiteral(" – ") + toQDate(range.to).toString(Qt::ISODate);
}

RestDaysDialog::RestDaysDialog(std::vector<app::DateRange> rest, QWidget* parent)
    : QDialog(parent), rest_(std::move(rest)) {
    setWindowTitle(QStringLiteral("休息日"));
    for (auto& r : rest_)
        if (r.to < r.from) std::swap(r.from, r.to);
    std::sort(rest_.begin(), rest_.end(), earlier);
    rest_.erase(std::unique(rest_.begin(), rest_.end()), rest_.end());

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("list"));
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    from_ = dateEdit("from", this);
    to_ = dateEdit("to", this);
    to_->setEnabled(false);
    range_ = new QCheckBox(QStringLiteral("到"), this);
    range_->setObjectName(QStringLiteral("range"));
    connect(range_, &QCheckBox::toggled, to_, &QWidget::setEnabled);
    auto* add = new QPushButton(QStringLiteral("添加"), this);
    add->setObjectName(QStringLiteral("add"));
    add->setAutoDefault(false);
    remove_ = new QPushButton(QStringLiteral("删除"), this);
    remove_->setObjectName(QStringLiteral("remove"));
    remove_->setAutoDefault(false);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(add, &QPushButton::clicked, this, &RestDaysDialog::add);
    connect(remove_, &QPushButton::clicked, this, &RestDaysDialog::removeSelected);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(list_, &QListWidget::itemSelectionChanged, this,
            [this] { remove_->setEnabled(!list_->selectedItems().isEmpty()); });

    auto* dates = new QHBoxLayout;
    dates->addWidget(new QLabel(QStringLiteral("从"), this));
    dates->addWidget(from_);
    dates->addWidget(range_);
    dates->addWidget(to_);
    dates->addStretch();
    auto* edit = new QHBoxLayout;
    edit->addWidget(add);
    edit->addWidget(remove_);
    edit->addStretch();
    auto* close = new QHBoxLayout;
    close->addStretch();
    close->addWidget(ok);
    close->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(dates);
    layout->addLayout(edit);
    layout->addLayout(close);
    refill(-1);
}

void RestDaysDialog::add() {
    app::DateRange r{toSysDays(from_->date()), toSysDays(range_->isChecked() ? to_->date() : from_->date())};
    if (r.to < r.from) std::swap(r.from, r.to);
    auto at = std::lower_bound(rest_.begin(), rest_.end(), r, earlier);
    if (at == rest_.end() || !(*at == r)) at = rest_.insert(at, r);
    refill(static_cast<int>(at - rest_.begin()));
}

void RestDaysDialog::removeSelected() {
    std::vector<bool> gone(rest_.size());
    for (QListWidgetItem* item : list_->selectedItems())
        gone[static_cast<std::size_t>(list_->row(item))] = true;
    std::vector<app::DateRange> kept;
    for (std::size_t i = 0; i < rest_.size(); ++i)
        if (!gone[i]) kept.push_back(rest_[i]);
    rest_ = std::move(kept);
    refill(-1);
}

void RestDaysDialog::refill(int select) {
    list_->clear();
    for (const auto& r : rest_) list_->addItem(RestDayText(r));
    if (select >= 0) list_->setCurrentRow(select);
    remove_->setEnabled(!list_->selectedItems().isEmpty());
}

std::optional<std::vector<app::DateRange>> EditRestDays(const std::vector<app::DateRange>& rest,
                                                        QWidget* parent) {
    RestDaysDialog dialog(rest, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.rest();
}

}  // namespace vesperon::desktop

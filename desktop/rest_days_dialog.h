#pragma once
// The 休息日 dialog: the dates on which no period fires, single days and inclusive ranges, listed
// in date order, added and removed. Its widgets carry object names (list, from, to, range, add,
// remove) so that tests can find them.

#include <QDialog>
#include <QString>
#include <optional>
#include <vector>

#include "app/week_schedule.h"

class QCheckBox;
class QDateEdit;
class QListWidget;
class QPushButton;

namespace vesperon::desktop {

// 2026-12-25, or 2027-01-01 – 2027-01-03 for a range.
QString RestDayText(const app::DateRange& range);

class RestDaysDialog : public QDialog {
    Q_OBJECT
public:
    explicit RestDaysDialog(std::vector<app::DateRange> rest, QWidget* parent = nullptr);
    // The list as it stands: sorted, each range with from <= to, none twice.
    const std::vector<app::DateRange>& rest() const { return rest_; }

private:
    void add();
    void removeSelected();
    void refill(int select);

    std::vector<app::DateRange> rest_;
    QListWidget* list_;
    QDateEdit* from_;
    QDateEdit* to_;
    QCheckBox* range_;
    QPushButton* remove_;
};

// Shows the dialog modally; the edited list after 确定, nothing after 取消 or closing.
std::optional<std::vector<app::DateRange>> EditRestDays(const std::vector<app::DateRange>& rest,
                                                        QWidget* parent = nullptr);

}  // namespace vesperon::desktop

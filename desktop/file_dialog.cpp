#include "desktop/file_dialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QRegularExpression>

namespace vesperon::desktop {

std::vector<FilterPair> parseFilter(const std::string& filter) {
    std::string f = filter;
    while (!f.empty() && (f.back() == ' ' || f.back() == '\t' || f.back() == '\r' || f.back() == '\n' ||
                          f.back() == '\v' || f.back() == '\f'))
        f.pop_back();
    if (f.empty()) return {};
    if (f.size() < 2 || f.compare(f.size() - 2, 2, "||") != 0) f += "||";
    // "|" is plain ASCII, never a byte inside a UTF-8 sequence, so splitting bytes is safe.
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i] != '|') continue;
        parts.push_back(f.substr(start, i - start));
        start = i + 1;
    }
    std::vector<FilterPair> pairs;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty() || parts[i + 1].empty()) break;
        pairs.push_back({parts[i], parts[i + 1]});
    }
    return pairs;
}

std::optional<int> initialFilterPair(size_t pairCount, std::optional<int> index) {
    if (pairCount == 0 || !index) return std::nullopt;
    const int i = *index < 0 ? 0 : *index;
    return static_cast<size_t>(i) < pairCount ? i : 0;
}

namespace {

// Qt's dialog selects every name typed into its file-name field in its list, on each change of
// the text, one name at a time: pasting 500 quoted names took over a minute, 5,000 froze it for
// many. Up to a screenful of names keeps that selection; past it the field is read only when the
// dialog is accepted (in milliseconds).
constexpr int kMostNamesFollowed = 40;

void limitNameFollowing(QFileDialog& dialog) {
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!edit || !QObject::disconnect(edit, SIGNAL(textChanged(QString)), &dialog,
                                      SLOT(_q_autoCompleteFileName(QString))))
        return;  // another Qt: leave it as it is
    // The field's usual 32,767 characters hold only about 2,500 quoted names.
    edit->setMaxLength(1 << 24);
    QObject::connect(edit, &QLineEdit::textChanged, &dialog, [&dialog](const QString& text) {
        if (text.count(QLatin1Char('"')) <= 2 * kMostNamesFollowed)
            QMetaObject::invokeMethod(&dialog, "_q_autoCompleteFileName", Q_ARG(QString, text));
    });
}

QStringList patternList(const std::string& patterns) {
    return QString::fromStdString(patterns).split(QRegularExpression("[;\\s]+"), Qt::SkipEmptyParts);
}
}  // namespace

std::string qtNameFilter(const FilterPair& pair) {
    const QString desc = QString::fromStdString(pair.description);
    const QStringList patterns = patternList(pair.patterns);
    static const QRegularExpression trailing(QStringLiteral("\\(([^()]*)\\)\\s*$"));
    const auto m = trailing.match(desc);
    if (m.hasMatch() && m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts) == patterns)
        return pair.description;
    return (desc + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')')).toStdString();
}

std::vector<std::string> OpenFileDialog(const OpenFileDialogArgs& args) {
    QFileDialog dialog(nullptr, QString::fromStdString(args.title.value_or(kDefaultOpenTitle)));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setSizeGripEnabled(true);
    limitNameFollowing(dialog);
    const std::vector<FilterPair> pairs = parseFilter(args.filter.value_or(std::string()));
    QStringList names;
    for (const auto& p : pairs) names << QString::fromStdString(qtNameFilter(p));
    if (!names.isEmpty()) dialog.setNameFilters(names);
    if (auto pick = initialFilterPair(pairs.size(), args.initialFilter))
        dialog.selectNameFilter(names[*pick]);
    if (args.initialDirectory) dialog.setDirectory(QFile::decodeName(QByteArray::fromStdString(*args.initialDirectory)));
    if (dialog.exec() != QDialog::Accepted) return {};
    std::vector<std::string> paths;
    for (const QString& f : dialog.selectedFiles()) paths.push_back(QFile::encodeName(f).toStdString());
    // The current directory follows the dialog unless the caller asked to keep it.
    if (!(args.keepDirectory && *args.keepDirectory)) QDir::setCurrent(dialog.directory().absolutePath());
    return paths;
}

}  // namespace vesperon::desktop

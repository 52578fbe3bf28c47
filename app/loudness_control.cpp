#include "app/loudness_control.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QHelpEvent>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QToolTip>
#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "app/logic.h"
#include "app/player_controller.h"
#include "app/session.h"
#include "engine/player/playback.h"
#include "ui/list_box.h"

namespace vesperon::app {

namespace {

LoudnessControl* g_current = nullptr;
bool g_updateQueued = false;

// Runs `update` once the event loop comes round, however many ask before it does.
void queueUpdate() {
    if (g_updateQueued || !QCoreApplication::instance()) return;
    g_updateQueued = true;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            g_updateQueued = false;
            if (g_current) g_current->update();
        },
        Qt::QueuedConnection);
}

QString decibels(double v) {
    return QString::asprintf("%+.1f", v);
}

// The tool tip of a row: what was measured and the gain it gets now.
QString rowTip(LoudnessControl& c, const std::string& path) {
    const auto l = c.measured(path);
    if (!l) return QStringLiteral("响度:尚未测量(先按原音量播放)");
    if (l->lufs <= loudness::kSilence) return QStringLiteral("响度:无声或无法解码");
    QString tip = QString::asprintf("响度 %.1f LUFS,真峰值 %.1f dBTP", l->lufs, l->peakDb);
    const auto gains =
        loudness::gainsFor({path}, c.session.settings, [&](const std::string& p) { return c.measured(p); });
    if (c.session.settings.mode == loudness::Mode::Track && gains[0])
        tip += QStringLiteral(",增益 ") + decibels(*gains[0]) + QStringLiteral(" dB");
    return tip;
}

// Shows the row's tool tip where the pointer rests on the list.
class TipFilter : public QObject {
public:
    TipFilter(QListWidget* list) : QObject(list), list_(list) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::ToolTip || !g_current) return false;
        auto* help = static_cast<QHelpEvent*>(event);
        const int row = list_->indexAt(help->pos()).row();
        const std::string tip = PlaylistRowTip(row);
        if (tip.empty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), QString::fromStdString(tip), list_);
        return true;
    }

private:
    QListWidget* list_;
};

}  // namespace

LoudnessControl::LoudnessControl(const std::string& cachePath)
    : alive_(std::make_shared<bool>(true)), cache_(cachePath), measurer_(cache_, [](const std::string&) {
          // On the measuring thread: only post.
          if (QCoreApplication::instance())
              QMetaObject::invokeMethod(
                  QCoreApplication::instance(), [] { queueUpdate(); }, Qt::QueuedConnection);
      }) {
    cache_.load();
    g_current = this;
}

LoudnessControl::~LoudnessControl() {
    g_current = nullptr;
    *alive_ = false;
    engine::Playback::setTrackGains({});
    cache_.save();
}

LoudnessControl* LoudnessControl::current() {
    return g_current;
}

void LoudnessControl::update() {
    if (!PlayerController::exists()) return;  // no list without a controller (between window tests)
    const std::vector<std::string>& list = state().playlist;
    if (session.settings.mode != loudness::Mode::Off) measurer_.request(list);
    const auto gains =
        loudness::gainsFor(list, session.settings, [this](const std::string& p) { return measured(p); });
    std::unordered_map<std::string, double> table;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (gains[i]) table[list[i]] = *gains[i];
    engine::Playback::setTrackGains(std::move(table));
}

SessionLoudness CurrentSessionLoudness() {
    return g_current ? g_current->session : SessionLoudness{};
}

void ApplySessionLoudness(const SessionLoudness& keys) {
    if (!g_current) return;
    g_current->session = keys;
    LoudnessListChanged();
}

void LoudnessListChanged() {
    if (g_current) queueUpdate();
}

void ApplyPeriodLevel(int period) {
    engine::Playback::setStreamLevel(PeriodLevel(period));
}

void SetLoudnessSettings(const loudness::Settings& settings) {
    if (!g_current) return;
    g_current->session.settings = settings;
    sessionChanged();  // which hands the gains on
}

std::string PlaylistRowTip(int row) {
    if (!g_current || !PlayerController::exists()) return "";
    const auto& playlist = state().playlist;
    if (row < 0 || row >= int(playlist.size())) return "";
    return rowTip(*g_current, playlist[std::size_t(row)]).toStdString();
}

int PeriodLevel(int period) {
    const SessionLoudness keys = CurrentSessionLoudness();
    return period >= 0 && period < int(keys.levels.size()) ? keys.levels[std::size_t(period)] : 100;
}

void SetPeriodLevel(int period, int percent) {
    if (!g_current || period < 0 || period >= int(g_current->session.levels.size())) return;
    g_current->session.levels[std::size_t(period)] = std::clamp(percent, 0, 100);
    sessionChanged();
}

void AttachLoudnessMenu(ui::Form&) {
    QListWidget* list = playlistBox().list();
    if (!list) return;
    list->viewport()->installEventFilter(new TipFilter(list));
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list, &QWidget::customContextMenuRequested, list, [list](const QPoint& at) {
        if (!g_current) return;
        const loudness::Settings now = g_current->session.settings;
        QMenu menu(list);
        QActionGroup modes(&menu);
        const std::pair<const char*, loudness::Mode> entries[] = {
            {"响度均衡:逐曲", loudness::Mode::Track},
            {"响度均衡:专辑(同一文件夹)", loudness::Mode::Album},
            {"响度均衡:关(按原音量)", loudness::Mode::Off}};
        for (const auto& [text, mode] : entries) {
            QAction* a = menu.addAction(QString::fromUtf8(text));
            a->setCheckable(true);
            a->setChecked(now.mode == mode);
            modes.addAction(a);
            QObject::connect(a, &QAction::triggered, [mode, now] {
                SetLoudnessSettings({mode, now.target});
            });
        }
        QMenu* targets = menu.addMenu(QStringLiteral("目标响度"));
        for (double t : {-23.0, -20.0, -18.0, -16.0, -14.0}) {
            QAction* a = targets->addAction(QString::asprintf("%.0f LUFS", t));
            a->setCheckable(true);
            a->setChecked(now.target == t);
            QObject::connect(a, &QAction::triggered, [t, now] { SetLoudnessSettings({now.mode, t}); });
        }
        menu.exec(list->viewport()->mapToGlobal(at));
    });
}

}  // namespace vesperon::app

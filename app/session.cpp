#include "app/session.h"

#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/logic.h"
#include "app/loudness_control.h"
#include "app/report.h"
#include "ui/check_box.h"
#include "ui/edit_box.h"

namespace vesperon::app {

namespace {

SessionKeeper& keeper() { return PlayerController::current().session; }

void save() {
    SessionKeeper& k = keeper();
    if (!k.saving || !hasMainForm()) return;
    const SessionData now = CurrentSession();
    const std::string text = FormatSession(now);
    if (text == k.lastSaved) return;
    if (const Done saved = WriteSessionFile(k.path, now)) {
        k.lastSaved = text;
        if (k.reportedFailure) {
            reportLine("the session is saved to " + k.path + " again");
            showBoxLater("会话已重新保存到:\r\n" + k.path, desktop::kMbIconInformation, "提示");
        }
        k.reportedFailure = false;
    } else if (!k.reportedFailure) {
        // Once until a save works again: every key typed would repeat it.
        reportInBoxLater("cannot save the session to " + k.path + ": " + saved.error,
                         "会话无法保存:\r\n" + k.path + "\r\n(" + saved.error + ")\r\n保存恢复后会再告知。");
        k.reportedFailure = true;
    }
}

void apply(const SessionData& d) {
    PlayerState& s = state();
    s.playlist = d.playlist;
    s.dialogFolder = d.folder;
    RebuildPlaylistView();
    for (int i = 0; i < ScheduleModel::kPeriods; ++i) controller().setPeriod(i, d.periods[static_cast<std::size_t>(i)]);
    controller().schedule.rest = d.rest;
    controller().schedule.startedAt = d.started;
    controller().schedule.stopped = d.stopped;
    ApplySessionLoudness(d.loudness);
    // The two order switches exclude each other, as their clicks do; loop is the later one.
    s.loopTrack = d.loop ? 1 : 0;
    s.randomOrder = d.random && !d.loop ? 1 : 0;
    widgets().randomOrderBox.setProperty(ui::kCheckChecked, s.randomOrder);
    widgets().loopTrackBox.setProperty(ui::kCheckChecked, s.loopTrack);
    if (d.schedule && !controller().schedule.on) {
        widgets().scheduleSwitch.setProperty(ui::kCheckChecked, 1);
        SwitchSchedule();
        // Started inside a period (a reboot at 10:05 in 08:00-17:00): its start is taken as soon
        // as the start-up is over (the command line's files in the list), not at the clock's first
        // tick up to a second later, unless the music had been stopped since it was taken.
        controller().week.resumeAtStartUp();
        QTimer::singleShot(0, [] {
            if (hasMainForm() && !quitRequested()) CheckSchedule();
        });
    }
}

// Moves a bad file aside; false when it stays where it is (then it is never written over).
bool moveAside(const std::string& path, std::string& where) {
    Result<std::string> aside = SetAsideSessionFile(path);
    where = std::move(aside.value);
    return bool(aside);
}

}  // namespace

void UseSessionFile(const std::string& path) {
    keeper() = SessionKeeper{};
    keeper().path = path;
}

const std::string& SessionFile() { return keeper().path; }

void RestoreSession() {
    SessionKeeper& k = keeper();
    if (k.path.empty()) return;
    if (const int n = RemoveSessionTemporaries(k.path))
        reportLine("removed " + std::to_string(n) + " temporary file(s) an interrupted save left beside " + k.path);
    const Result<std::optional<SessionData>> read = ReadSessionFile(k.path);
    const bool loaded = read && read.value;
    if (loaded) {
        apply(*read.value);  // not saved back: the file already says this
        k.lastSaved = FormatSession(CurrentSession());
    }
    k.saving = true;
    if (!read) {
        std::string where;
        const bool moved = moveAside(k.path, where);
        const std::string fate = moved ? "moved it to " + where + " and starting with an empty session"
                                       : "left it in place, starting with an empty session that is not saved";
        reportInBox("cannot use the session file " + k.path + ": " + read.error + "; " + fate,
                    "会话文件无法读取:\r\n" + k.path + "\r\n(" + read.error + ")\r\n" +
                        (moved ? "已移至 " + where + ",本次从空白开始。" : "本次从空白开始,不保存。"));
        k.saving = moved;
    }
    // A missing (or moved) file is created at once, so that it is there even if nothing changes.
    if (!loaded) save();
}

void sessionChanged() {
    LoudnessListChanged();
    SessionKeeper& k = keeper();
    if (k.batchDepth > 0) {
        k.pending = true;
        return;
    }
    save();
}

SessionBatch::SessionBatch() { ++keeper().batchDepth; }

SessionBatch::~SessionBatch() {
    SessionKeeper& k = keeper();
    if (--k.batchDepth == 0 && k.pending) {
        k.pending = false;
        save();
    }
}

SessionData CurrentSession() {
    SessionData d;
    const PlayerState& s = state();
    d.playlist = s.playlist;
    d.periods = controller().schedule.periods;
    d.rest = controller().schedule.rest;
    d.random = s.randomOrder == 1;
    d.loop = s.loopTrack == 1;
    d.schedule = controller().schedule.on;
    d.started = controller().schedule.startedAt;
    d.stopped = controller().schedule.stopped;
    d.folder = s.dialogFolder;
    d.loudness = CurrentSessionLoudness();
    return d;
}

}  // namespace vesperon::app

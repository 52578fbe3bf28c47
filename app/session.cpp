#include "app/session.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/logic.h"
#include "ui/check_box.h"
#include "ui/content_watch.h"
#include "ui/edit_box.h"

namespace vesperon::app {

namespace {

struct Keeper {
    std::string path;
    bool saving = false;       // false without a file, or when a bad file could not be moved aside
    std::string lastSaved;     // the text last written (or read), to skip saves that change nothing
    int batchDepth = 0;
    bool pending = false;
    bool reportedFailure = false;
};

Keeper& keeper() {
    static Keeper k;
    return k;
}

// scheduleBoxes holds every start hour, then start minutes, ..., then end seconds.
ui::Widget& periodBox(std::size_t period, bool end, std::size_t part) {
    return widget(state().scheduleBoxes[((end ? 3 : 0) + part) * 5 + period]);
}

void save() {
    Keeper& k = keeper();
    if (!k.saving || !hasMainForm() || state().scheduleBoxes.size() != 30) return;
    const SessionData now = CurrentSession();
    const std::string text = FormatSession(now);
    if (text == k.lastSaved) return;
    std::string error;
    if (WriteSessionFile(k.path, now, error)) {
        k.lastSaved = text;
        k.reportedFailure = false;
    } else if (!k.reportedFailure) {
        // Once until a save works again: every key typed would repeat it.
        std::fprintf(stderr, "vesperon: cannot save the session to %s: %s\n", k.path.c_str(), error.c_str());
        k.reportedFailure = true;
    }
}

void apply(const SessionData& d) {
    PlayerState& s = state();
    s.playlist = d.playlist;
    RebuildPlaylistView();
    for (std::size_t i = 0; i < d.periods.size(); ++i)
        for (std::size_t part = 0; part < 3; ++part) {
            periodBox(i, false, part).setProperty(ui::kEditContent, d.periods[i].from[part]);
            periodBox(i, true, part).setProperty(ui::kEditContent, d.periods[i].to[part]);
        }
    // The two order switches exclude each other, as their clicks do; loop is the later one.
    s.loopTrack = d.loop ? 1 : 0;
    s.randomOrder = d.random && !d.loop ? 1 : 0;
    widgets().randomOrderBox.setProperty(ui::kCheckChecked, s.randomOrder);
    widgets().loopTrackBox.setProperty(ui::kCheckChecked, s.loopTrack);
    if (d.schedule && s.scheduleOn != 1) {
        widgets().scheduleSwitch.setProperty(ui::kCheckChecked, 1);
        SwitchSchedule();
    }
}

// Moves a bad file aside; false when it stays where it is (then it is never written over).
bool moveAside(const std::string& path, std::string& where) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    // Device nodes and pipes are not session files someone could lose: leave them alone.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) return false;
    where = path + ".bad";
    return std::rename(path.c_str(), where.c_str()) == 0;
}

}  // namespace

void UseSessionFile(const std::string& path) {
    keeper() = Keeper{};
    keeper().path = path;
}

const std::string& SessionFile() { return keeper().path; }

void RestoreSession() {
    Keeper& k = keeper();
    if (k.path.empty()) return;
    SessionData data;
    std::string error;
    const SessionRead read = ReadSessionFile(k.path, data, error);
    if (read == SessionRead::Loaded) {
        apply(data);  // not saved back: the file already says this
        k.lastSaved = FormatSession(CurrentSession());
    }
    k.saving = true;
    if (read == SessionRead::Bad) {
        std::string where;
        const bool moved = moveAside(k.path, where);
        const std::string fate = moved ? "moved it to " + where + " and starting with an empty session"
                                       : "left it in place, starting with an empty session that is not saved";
        std::fprintf(stderr, "vesperon: cannot use the session file %s: %s; %s\n", k.path.c_str(), error.c_str(),
                     fate.c_str());
        services().messageBox("会话文件无法读取:\r\n" + k.path + "\r\n(" + error + ")\r\n" +
                                  (moved ? "已移至 " + where + ",本次从空白开始。" : "本次从空白开始,不保存。"),
                              0x10, "错误");
        k.saving = moved;
    }
    // A missing (or moved) file is created at once, so that it is there even if nothing changes.
    if (read != SessionRead::Loaded) save();
    for (const std::string& name : state().scheduleBoxes) ui::watchContent(widget(name), [] { sessionChanged(); });
}

void sessionChanged() {
    Keeper& k = keeper();
    if (k.batchDepth > 0) {
        k.pending = true;
        return;
    }
    save();
}

SessionBatch::SessionBatch() { ++keeper().batchDepth; }

SessionBatch::~SessionBatch() {
    Keeper& k = keeper();
    if (--k.batchDepth == 0 && k.pending) {
        k.pending = false;
        save();
    }
}

SessionData CurrentSession() {
    SessionData d;
    const PlayerState& s = state();
    d.playlist = s.playlist;
    for (std::size_t i = 0; i < d.periods.size(); ++i)
        for (std::size_t part = 0; part < 3; ++part) {
            d.periods[i].from[part] = periodBox(i, false, part).textProperty(ui::kEditContent);
            d.periods[i].to[part] = periodBox(i, true, part).textProperty(ui::kEditContent);
        }
    d.random = s.randomOrder == 1;
    d.loop = s.loopTrack == 1;
    d.schedule = s.scheduleOn == 1;
    return d;
}

}  // namespace vesperon::app

#pragma once
// The session named by `--session FILE`: restored at the end of the start-up, saved after every
// change of the playlist, a period box or a switch. Without a session file every call here does
// nothing, so the start-up is the plain one.

#include <string>

#include "app/session_file.h"

namespace vesperon::app {

// What the controller keeps of its session file.
struct SessionKeeper {
    std::string path;
    bool saving = false;    // false without a file, or when a bad file could not be moved aside
    std::string lastSaved;  // the text last written (or read), to skip saves that change nothing
    int batchDepth = 0;
    bool pending = false;
    bool reportedFailure = false;
};

// The file to keep the session in (an absolute path); empty for none. Call before the window loads.
void UseSessionFile(const std::string& path);
const std::string& SessionFile();

// End of the start-up: reads the file and puts its playlist, periods and switches on the window.
// A missing file is created; a file that cannot be read or parsed is reported (standard error and
// a message box), moved aside to FILE.bad and replaced by an empty session.
void RestoreSession();

// The one notice every routine that changes the session gives: saves at once (atomically) when
// the session differs from what was saved last.
void sessionChanged();

// Within its lifetime changes are saved once, at its end (many boxes written in one go).
class SessionBatch {
public:
    SessionBatch();
    ~SessionBatch();
    SessionBatch(const SessionBatch&) = delete;
    SessionBatch& operator=(const SessionBatch&) = delete;
};

// What the window holds now, in the file's terms.
SessionData CurrentSession();

}  // namespace vesperon::app

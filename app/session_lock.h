#pragma once
// Two players never own one session file: the player that runs a session holds an exclusive
// lock on FILE.lock beside the file the session's name leads to (through symbolic links, of the
// file and of its folders), for as long as it runs, so that two names of one file are one
// session. The lock goes with the process, so a player that was killed never leaves the session
// locked.

#include <memory>
#include <string>

#include "ui/result.h"

namespace vesperon::app {

class SessionLock {
public:
    // The lock for `sessionFile` (its folder made when missing); fails when another player holds
    // it. Where the lock file cannot be made (a read-only folder), the session cannot be saved
    // either and no other player can spoil it: the lock is then given unheld, saying why.
    static Result<std::unique_ptr<SessionLock>> take(const std::string& sessionFile);
    ~SessionLock();
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;
    // Empty while the lock is held; else one line for the user.
    const std::string& unheld() const { return unheld_; }

private:
    SessionLock(int fd, std::string unheld) : fd_(fd), unheld_(std::move(unheld)) {}
    int fd_;
    std::string unheld_;
};

}  // namespace vesperon::app

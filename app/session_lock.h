#pragma once
// Two players never own one session file: the player that runs a session holds an exclusive
// lock on FILE.lock beside it for as long as it runs. The lock goes with the process, so a
// player that was killed never leaves the session locked.

#include <memory>
#include <string>

#include "ui/result.h"

namespace vesperon::app {

class SessionLock {
public:
    // The lock for `sessionFile` (its folder made when missing); fails when another player holds
    // it or the lock file cannot be made.
    static Result<std::unique_ptr<SessionLock>> take(const std::string& sessionFile);
    ~SessionLock();
    SessionLock(const SessionLock&) = delete;
    SessionLock& operator=(const SessionLock&) = delete;

private:
    explicit SessionLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace vesperon::app

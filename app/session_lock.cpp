#include "app/session_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/session_file.h"

namespace vesperon::app {

Result<std::unique_ptr<SessionLock>> SessionLock::take(const std::string& sessionFile) {
    using Taken = Result<std::unique_ptr<SessionLock>>;
    // The session's folder is made as a first start needs it (a service's ~/.config/vesperon).
    for (std::size_t slash = sessionFile.find('/', 1); slash != std::string::npos;
         slash = sessionFile.find('/', slash + 1))
        ::mkdir(sessionFile.substr(0, slash).c_str(), 0700);
    const std::string path = ResolvedSessionPath(sessionFile) + ".lock";
    // O_NONBLOCK: a FIFO put in its place must not hold up the start.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
    if (fd < 0 && (errno == EROFS || errno == EACCES || errno == EPERM)) {
        const int e = errno;
        // A lock file left there before the folder became read-only still locks.
        fd = ::open(path.c_str(), O_RDONLY | kFlags);
        if (fd < 0)
            return {std::unique_ptr<SessionLock>(new SessionLock(
                -1, "cannot make the lock file " + path + ": " + std::strerror(e) +
                        "; running the session without it (its changes cannot be saved there either)"))};
    }
    if (fd < 0) return Taken::failed("cannot make the lock file " + path + ": " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        return Taken::failed(e == EWOULDBLOCK
                                 ? "the session " + sessionFile + " is in use by another Vesperon"
                                 : "cannot lock " + path + ": " + std::strerror(e));
    }
    return {std::unique_ptr<SessionLock>(new SessionLock(fd, ""))};
}

SessionLock::~SessionLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace vesperon::app

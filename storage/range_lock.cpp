// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/range_lock.h"

#include <utility>

#include <cerrno>
#include <fcntl.h>

namespace storage {

RangeLock::~RangeLock()
{
    if (held) {
        struct flock fl {};
        fl.l_type = F_UNLCK;
        fl.l_whence = SEEK_SET;
        ::fcntl(fd, F_OFD_SETLK, &fl);
    }
}

LockResult RangeLock::acquire(SaveClock::time_point deadline, const std::function<void()>& waiting)
{
    bool told = false;
    Backoff backoff;
    for (;;) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) {
            held = true;
            return LockResult::Held;
        }
        if (errno != EAGAIN && errno != EACCES && errno != EINTR)
            return LockResult::Impossible;
        if (SaveClock::now() >= deadline)
            return LockResult::TimedOut;
        if (!std::exchange(told, true) && waiting)
            waiting();
        backoff.wait();
    }
}

} // namespace storage

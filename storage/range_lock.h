// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/lock_wait.h"

#include <functional>

// The save lock on a disk of this machine: a write lock over the whole ranking file, on the
// open file description of the descriptor it is given (F_OFD_SETLK).
//
// What it guarantees. The kernel holds the lock for every program and every account on the
// machine, and drops it with the holder's descriptor: a copy that crashed or was killed never
// keeps the others out, and no other copy can take the lock while it is held, so the holder
// writes without checking again. The lock is the descriptor's, not the process's: closing
// another descriptor of the same file (as Qt or the journal may) does not drop it, and a
// second RangeLock on another descriptor of the same process waits like any other copy.
//
// Waiting. acquire tries at once, then again after Backoff's pauses (20 ms growing to 100 ms)
// until the deadline; waiting() is called once, before the first pause. There is no sign of
// life to read: the wait ends when the holder lets go or at the deadline (a holder stopped by a
// debugger, say). A file system that refuses byte-range locks (ENOLCK, EINVAL, ...) makes the
// lock Impossible at once.
namespace storage {

class RangeLock {
public:
    // fd: the ranking file, opened for writing; it must stay open as long as the lock.
    explicit RangeLock(int fd) : fd(fd) {}
    // Releases the lock, if held.
    ~RangeLock();
    RangeLock(const RangeLock&) = delete;
    RangeLock& operator=(const RangeLock&) = delete;

    LockResult acquire(SaveClock::time_point deadline, const std::function<void()>& waiting);

private:
    int fd;
    bool held = false;
};

} // namespace storage

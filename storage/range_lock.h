// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/lock_wait.h"

#include <functional>

// The save lock on a disk of this machine: a write lock over the whole ranking file, on the
// open file description of the descriptor it is given. What it guarantees and how a copy
// waits for it are stated in save_lock.h, the save lock's manual.
namespace storage {

class RangeLock {
public:
    // fd: the ranking file, opened for writing; it must stay open as long as the lock.
    explicit RangeLock(int fd) : fd(fd) {}
    // Releases the lock, if held.
    ~RangeLock();
    RangeLock(const RangeLock&) = delete;
    RangeLock& operator=(const RangeLock&) = delete;

    // Takes the lock, waiting until deadline at the most; waiting() is called once when
    // another copy holds it (save_lock.h: Waiting).
    LockResult acquire(SaveClock::time_point deadline, const std::function<void()>& waiting);

private:
    int fd;
    bool held = false;
};

} // namespace storage

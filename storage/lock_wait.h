// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <chrono>
#include <thread>

// What the two save locks (range_lock.h, lock_file.h) share: the clock they wait by, the pause
// between two tries for a lock that another copy holds, and how a try for the lock ends.
namespace storage {

// Steady, so that a clock set back or forward on this PC neither ends a wait early nor
// stretches it; the PCs' clocks never meet.
using SaveClock = std::chrono::steady_clock;

enum class LockResult {
    Held,       // this copy holds the lock until the lock object goes
    TimedOut,   // another copy held it until the deadline
    Impossible, // no lock can be had here, however long one waits (save_lock.h tells when)
};

// Between two tries for a lock that another copy holds: short at first, then longer, so that
// forty PCs waiting for one lock do not keep the server busy for the one that holds it.
class Backoff {
public:
    static constexpr std::chrono::milliseconds firstStep{20};
    static constexpr std::chrono::milliseconds longestStep{100};

    void wait()
    {
        std::this_thread::sleep_for(step);
        step = std::min<std::chrono::milliseconds>(step * 3 / 2, longestStep);
    }

private:
    std::chrono::milliseconds step = firstStep;
};

} // namespace storage

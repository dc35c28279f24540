// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/lock_wait.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// The save lock on a file server: the file "tavon.rnk.lock" beside the ranking file, created
// exclusively (O_CREAT | O_EXCL, which the server decides for every PC at once), with a heart
// that shows the holder is alive. save_lock.h says when it is used and what it guarantees.
//
// What the file holds: "nubora1 lock <host> <pid> <id> beat <n>\n". <id> is 16 random
// hexadecimal digits that name this holder; <n> counts the beats. The holder's heart, a
// thread of its own, rewrites the file every quarter of staleLock, also while the save itself
// is stuck in a slow write.
//
// Waiting (acquire). A copy that finds the file there reads it at every try (Backoff's pauses)
// and calls waiting() once. A lock whose contents stay unchanged for staleLock on this PC's
// own clock was left by a PC that died, froze or lost its network, and is taken over: the
// clocks of the PCs never meet. Only one waiting PC takes over at a time: it creates
// "tavon.rnk.lock.takeover" exclusively, checks that the lock still holds what it saw, and
// retires the lock (fileio::retire); a takeover guard left by a PC that died while taking
// over goes once it has stood unchanged for twice staleLock. acquire ends:
//   Held        the file was made and its first beat pushed to the server;
//   TimedOut    the deadline came while live holders kept the lock;
//   Impossible  the folder refused three creates running that were not refused for the file
//               being there (it takes no new file, or the server stopped answering: a client
//               that gave up refuses every call), the takeover was refused three times, or
//               the first beat could not be written.
// An sshfs server answers an exclusive create of a file that exists with EPERM; a lock that
// vanished between a refused create and the look at it is no refusal.
//
// Holding. mayWrite() is true while the file still names this holder and its last beat
// reached the file less than half staleLock ago, both as of its return: a beat older than that
// when the look at the file is over (the holder froze while it looked) makes it look again. It
// waits up to twice staleLock for a late beat first. A waiting PC takes over only after
// staleLock without a change, so a write made at once after a true mayWrite() and reaching the
// server within half staleLock lands before any takeover. Every look at the file drops this
// machine's cached copy of it first (fileio::dropCached): a client cache that kept an old beat
// would make a live holder look dead.
// The destructor stops the heart and retires the file if it still names this holder.
namespace storage {

class LockFile {
public:
    // path: the lock file's name ("<ranking file>.lock"); staleLock: as RankingOptions.
    LockFile(QString path, std::chrono::milliseconds staleLock);
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    LockResult acquire(SaveClock::time_point deadline, const std::function<void()>& waiting);
    // Whether the lock file still names this holder (a few looks, 20 ms apart: a PC taking
    // over at this moment may have it moved aside for an instant).
    bool stillOurs() const;
    // stillOurs(), and the last beat sent less than half the stale time ago, on return; waits
    // up to twice the stale time for a late beat.
    bool mayWrite() const;
    // The holder's id; names the files this holder retires.
    const QByteArray& ownId() const { return id; }

private:
    QByteArray identity() const;
    bool writeBeat();
    void beatUntilStopped();
    bool takeOver(const QByteArray& seen);

    QString path;
    std::chrono::milliseconds staleLock;
    QByteArray id;
    int fd = -1;
    quint32 beats = 0;
    // When the last beat that reached the file was started, in SaveClock ticks.
    std::atomic<SaveClock::rep> lastBeat{0};
    std::optional<QByteArray> guardSeen;
    SaveClock::time_point guardSince;
    std::thread heart;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
};

} // namespace storage

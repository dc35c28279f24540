// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/file_io.h"
#include "storage/ranking_file.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

// The save lock: one copy of the program at a time writes the ranking file, whichever PC it
// runs on and whoever is logged in.
//
// Calling sequence (RankingFile::save and ::blank do this; nothing else writes the file):
//
//     SaveLock lock(fd, rankingPath, options);       // fd: the ranking file, opened afresh
//     if (!lock.acquire(deadline)) -> the save fails ("成績を保存できませんでした。")
//     ... re-read the file, write the journal ...
//     for each record:  if (!lock.mayWrite()) -> stop writing: the lock was taken over
//                       write the record
//     if (!lock.mayWrite()) -> as above; else read the file back and compare
//     ~SaveLock                                       // releases; the next copy goes on
//
// Which lock. On a disk of this machine (ext4, xfs, btrfs, tmpfs, ...: fileio::onLocalDisk)
// the lock is a write lock over the whole ranking file on the open file description
// (F_OFD_SETLK). The kernel holds it for every program and account on the machine and drops
// it with the holder's descriptor, so a copy that crashed or was killed never keeps the
// others out, and no other copy can write while it is held: mayWrite() is always true.
//
// Anywhere else (sshfs, NFS, SMB) byte-range locks are not trusted: sshfs keeps them on the
// client, and NFS and SMB servers hold a dead PC's lock for a minute or more. The lock is then
// the file "tavon.rnk.lock", created exclusively (O_CREAT | O_EXCL, which the server decides
// for every PC at once). It holds "nubora1 lock <host> <pid> <id> beat <n>": the holder's
// heart, a thread of its own, rewrites the beat counter every quarter of options.staleLock
// (0.75 s), also while the save itself is stuck in a slow write.
//
// Waiting. A copy that finds the lock taken tries again, a little less often the longer it
// waits (20 ms up to 100 ms apart), and reports WriteStep::WaitingForLock once. It waits:
//   - as long as the holders ahead of it are alive, each beating: however many PCs are ahead
//     and however slow the server, up to options.lockWait (2 minutes), a bound far beyond
//     what forty saves take (the slowest of forty at once, beside two busy processes, took 3.5 s);
//   - for a holder whose lock file stays unchanged for options.staleLock (3 s) on the waiting
//     PC's own clock (a PC that died, froze or lost its network): that lock is taken over, so
//     the PCs' clocks need not agree. Only one waiting PC takes over at a time: it holds
//     "tavon.rnk.lock.takeover" (made exclusively), checks that the lock still holds what it
//     saw, and moves it aside under a retired name; the taker then rolls back the journal of
//     the save cut short, if that save had not written all its records;
//   - not at all where the folder takes no new file, or the server stopped answering: the
//     lock cannot be had (acquire is false after three refusals running, or when the client
//     gives up: with README's sshfs options about 20 s).
// On a local disk there is no beat to read: the wait ends when the holder lets go or at
// options.lockWait (a holder stopped by a debugger, say).
//
// What a holder whose lock was taken over does. A holder that froze (a laptop lid closed, a
// stalled link, SIGSTOP) may resume after another PC took its lock over and saved. Before each
// record it writes, and before it counts the save as done, mayWrite() checks that the lock
// file still names this holder and that its last beat was sent less than half the stale time
// ago (waiting for the next beat otherwise). A waiting PC takes over only after the stale time
// without a change, so a record whose write reaches the server within half the stale time of
// that check lands before any take-over. When mayWrite() is false the holder writes nothing
// more, not even the old records back; RankingFile then starts its save afresh under a new
// lock (the taker has rolled back what it wrote), or, when all its records were written before
// the lock went (the taker kept them), checks that its entry is in the file.
//
// What remains on a file system without server-side locks (sshfs, or NFS and SMB, which are
// used the same way): a record write that is held up on its way to the server for more than
// half the stale time (1.5 s) after the check, or a holder frozen in the instant between the
// check and the write, can still land over the taker's save. Nothing a client does can close
// that window without the server's help; it is one record's write wide.
//
// Left-behind files: lock files and journals are retired under names "tavon.rnk.*.gone" that
// the next holder removes (fileio::retire, fileio::sweepRetired). The folder on a server must
// let pupils rename and remove files in it, so it must not be sticky.
namespace results {

using SaveClock = std::chrono::steady_clock;

// The byte-range lock of a local disk.
class RangeLock {
public:
    explicit RangeLock(int fd) : fd(fd) {}
    ~RangeLock();
    RangeLock(const RangeLock&) = delete;
    RangeLock& operator=(const RangeLock&) = delete;
    bool acquire(SaveClock::time_point deadline, const RankingOptions& options);

private:
    int fd;
    bool held = false;
};

// The lock file of a file server, with its heart.
class LockFile {
public:
    enum class Result { Held, TimedOut, Impossible };

    LockFile(QString path, const RankingOptions& options) : path(std::move(path)), options(options) {}
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    Result acquire(SaveClock::time_point deadline);
    // Whether the lock file still names this holder.
    bool stillOurs() const;
    // stillOurs(), and the last beat sent less than half the stale time ago; waits up to twice
    // the stale time for a late beat.
    bool mayWrite() const;
    const QByteArray& ownId() const { return id; }

private:
    QByteArray identity() const;
    bool writeBeat();
    void beatUntilStopped();
    bool takeOver(const QByteArray& seen);

    QString path;
    const RankingOptions& options;
    QByteArray id = fileio::randomId();
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

// Whichever of the two the ranking file's file system calls for.
class SaveLock {
public:
    SaveLock(int rankingFd, const QString& rankingPath, const RankingOptions& options);
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;

    // Takes the lock, waiting as above until deadline at the most. On a server, the holder
    // then removes the files that earlier holders retired.
    bool acquire(SaveClock::time_point deadline);
    // Whether this holder may write the next record (always, on a local disk).
    bool mayWrite() const { return !file || file->mayWrite(); }
    bool onServer() const { return file.has_value(); }
    // The holder's id on a server (names what it retires); empty on a local disk.
    QByteArray id() const { return file ? file->ownId() : QByteArray(); }

private:
    QString rankingPath;
    const RankingOptions& options;
    std::optional<RangeLock> range;
    std::optional<LockFile> file;
};

} // namespace results

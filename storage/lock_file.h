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

// The save lock on a file server: the file "tavon.rnk.lock" beside the ranking file. Its
// protocol (what the file holds, the heart, waiting and taking over, when acquire ends, what
// mayWrite() promises, letting go) is stated in save_lock.h, the save lock's manual.
namespace storage {

class LockFile {
public:
    // path: the lock file's name ("<ranking file>.lock"); staleLock: as RankingOptions.
    LockFile(QString path, std::chrono::milliseconds staleLock);
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    // Takes the lock, waiting until deadline at the most; waiting() is called once when
    // another copy holds it (save_lock.h: Waiting).
    LockResult acquire(SaveClock::time_point deadline, const std::function<void()>& waiting);
    // Whether the lock file still names this holder (a few looks, 20 ms apart: a PC taking
    // over at this moment may have it moved aside for an instant).
    bool stillOurs() const;
    // Whether this holder may write the next record (save_lock.h: what a holder whose lock
    // was taken over does).
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

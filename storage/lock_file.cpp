// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/lock_file.h"

#include "storage/file_io.h"

#include <QFile>
#include <QSysInfo>

#include <algorithm>
#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {

using namespace fileio;

namespace {

bool exists(const QString& file)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(file).constData(), &st) == 0;
}

// What a lock file holds; a fixed text for one that cannot be read (a directory, a link to
// nowhere), so that it, too, counts as left behind once it stays.
QByteArray contents(const QString& file)
{
    const Descriptor d(openPath(file, O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    QByteArray bytes;
    if (d)
        dropCached(d.get()); // another PC's beat, not this PC's cached copy of an older one
    if (d && readAt(d.get(), 0, 256, bytes))
        return bytes;
    return errno == ENOENT ? QByteArray() : "unreadable " + QByteArray::number(errno);
}

// An exclusive create that failed because the file is there. An sshfs server answers an
// exclusive create of a file that exists with a plain failure (EPERM).
bool takenAlready(int error, const QString& path)
{
    return error == EEXIST || (error == EPERM && exists(path));
}

} // namespace

LockFile::LockFile(QString path, std::chrono::milliseconds staleLock)
    : path(std::move(path)), staleLock(staleLock), id(randomId())
{
}

LockFile::~LockFile()
{
    if (!heart.joinable())
        return;
    {
        const std::lock_guard guard(mutex);
        stopping = true;
    }
    wake.notify_all();
    heart.join();
    ::close(fd);
    if (stillOurs())
        retire(path, true, id);
}

LockResult LockFile::acquire(SaveClock::time_point deadline, const std::function<void()>& waiting)
{
    std::optional<QByteArray> seen;
    SaveClock::time_point seenSince;
    bool told = false;
    int refusals = 0;
    Backoff backoff;
    for (;;) {
        Descriptor made(openPath(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644));
        if (made) {
            fd = made.release();
            if (!writeBeat() || !sync(fd)) {
                ::close(fd);
                retire(path, true, id);
                return LockResult::Impossible;
            }
            heart = std::thread([this] { beatUntilStopped(); });
            return LockResult::Held;
        }
        // Refused three times running (not taken by another copy): the folder takes no new
        // file, and no lock can be had. Once is no proof: the lock may have gone between the
        // create and the look at it.
        if (!takenAlready(errno, path)) {
            if (++refusals >= 3)
                return LockResult::Impossible;
        } else {
            refusals = 0;
        }
        const QByteArray now = contents(path);
        const auto at = SaveClock::now();
        if (!seen || *seen != now) {
            seen = now;
            seenSince = at;
        } else if (at - seenSince >= staleLock) {
            if (!takeOver(now) && ++refusals >= 3)
                return LockResult::Impossible;
            seen.reset();
            continue;
        }
        if (at >= deadline)
            return LockResult::TimedOut;
        if (!std::exchange(told, true) && waiting)
            waiting();
        backoff.wait();
    }
}

// A PC that takes over a left-behind lock at the same moment as this holder reads it may have
// it moved aside for an instant; a few looks wait that out.
bool LockFile::stillOurs() const
{
    for (int look = 0; look < 10; ++look) {
        if (contents(path).startsWith(identity()))
            return true;
        std::this_thread::sleep_for(Backoff::firstStep);
    }
    return false;
}

bool LockFile::mayWrite() const
{
    const auto fresh = staleLock / 2;
    const auto giveUp = SaveClock::now() + 2 * staleLock;
    for (;;) {
        // A beat that reached the file before the look below, which found the file naming
        // this holder: no PC takes over before a stale time has passed since that beat.
        const SaveClock::time_point beat{SaveClock::duration(lastBeat.load())};
        if (SaveClock::now() - beat < fresh) {
            if (!stillOurs())
                return false;
            // A holder that froze while it looked (the look takes a few calls to the server)
            // looks again: its look may be older than a take-over.
            if (SaveClock::now() - beat < fresh)
                return true;
        }
        if (SaveClock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(Backoff::firstStep);
    }
}

QByteArray LockFile::identity() const
{
    return "nubora1 lock " + QSysInfo::machineHostName().toUtf8() + ' ' + QByteArray::number(::getpid()) + ' ' + id
           + " beat ";
}

bool LockFile::writeBeat()
{
    // The time is taken before the write: the beat reaches the file after it, never before.
    const auto started = SaveClock::now().time_since_epoch().count();
    const QByteArray text = identity() + QByteArray::number(beats++).rightJustified(10, '0') + '\n';
    if (!writeAt(fd, 0, text))
        return false;
    lastBeat.store(started);
    return true;
}

void LockFile::beatUntilStopped()
{
    std::unique_lock guard(mutex);
    const auto beat = std::max<std::chrono::milliseconds>(staleLock / 4, Backoff::firstStep);
    while (!wake.wait_for(guard, beat, [this] { return stopping; })) {
        writeBeat();
        sync(fd);
    }
}

// Moves the left-behind lock aside under a retired name. Only one PC at a time does: it holds
// "tavon.rnk.lock.takeover", made exclusively, and checks that the lock still holds what it
// saw. A guard left by a PC that died while taking over goes once it has stood unchanged for
// twice the stale time. False only when the folder refuses all this.
bool LockFile::takeOver(const QByteArray& seen)
{
    const QString guardPath = path + QStringLiteral(".takeover");
    Descriptor guard(openPath(guardPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644));
    if (!guard) {
        if (!takenAlready(errno, guardPath))
            return false;
        const QByteArray now = contents(guardPath);
        if (!guardSeen || *guardSeen != now) {
            guardSeen = now;
            guardSince = SaveClock::now();
        } else if (SaveClock::now() - guardSince >= 2 * staleLock) {
            retire(guardPath, true, id + "-guard");
            guardSeen.reset();
        }
        return true;
    }
    const bool written = writeAt(guard.get(), 0, identity());
    guard.reset();
    bool moved = written;
    if (written && contents(path) == seen)
        moved = retire(path, true, id) || errno == ENOENT;
    retire(guardPath, true, id);
    return moved;
}

} // namespace storage

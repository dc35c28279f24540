// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdio>
#include <utility>

#include <sys/stat.h>
#include <sys/types.h>

// Plain file access for the ranking file and the files beside it. Every call is retried when
// a signal interrupts it; every descriptor is closed on exec. Nothing here reports through
// exceptions: a failure is false (or -1) with errno as the system left it.
namespace storage::fileio {

// Owns one descriptor; closes it when it goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : fd(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    void reset(int other = -1);
    int get() const { return fd; }
    int release() { return std::exchange(fd, -1); }
    explicit operator bool() const { return fd >= 0; }

private:
    int fd = -1;
};

// open(2) by a path, with O_CLOEXEC added.
int openPath(const QString& path, int flags, mode_t mode = 0);

// openat(2) through a folder's descriptor, with O_CLOEXEC added.
int openIn(int folderFd, const QString& name, int flags, mode_t mode = 0);

// Drops what this machine holds of the file's bytes in its cache, so that the next read asks
// the file server: a client that keeps a file's pages across openings (sshfs with kernel_cache
// or auto_cache, a caching SMB client) would otherwise answer with bytes from before another
// PC's write. No effect on a disk of this machine, whose cache is the file.
void dropCached(int fd);

// Up to n bytes from offset on, fewer where the file ends; false when reading fails.
bool readAt(int fd, qint64 offset, qsizetype n, QByteArray& out);

// All of bytes at offset; false when the system refuses any part of it.
bool writeAt(int fd, qint64 offset, QByteArrayView bytes);

// Pushes what was written to the disk (or the server). A file system that cannot be asked
// to (an sshfs server without the extension) counts as done.
bool sync(int fd);

// Pushes the names in a folder to the disk (a new file's name before the file is relied on).
void syncFolder(const QString& folder);

// The size of an open file, -1 when it cannot be told.
qint64 sizeOf(int fd);

// Whether two stat results name one file (device and inode).
inline bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the open file lies on a disk or in the memory of this machine, where a byte-range
// lock excludes every program on the machine and ends with its holder. Anything else (sshfs,
// NFS, SMB, an unknown file system) counts as a file server.
bool onLocalDisk(int fd);

// 16 hexadecimal digits from the system's random source: names a lock holder or a retired file.
QByteArray randomId();

// The system's rename(2), through which retire moves a file aside on a file server. A test
// puts a client of its own in its place (one that refuses to rename a file that is open).
inline int (*renameFile)(const char* from, const char* to) = ::rename;

// A file of the program's own beside the ranking file goes. On a file server it is only
// renamed to "<path>.<id>.gone": a client such as sshfs keeps a file that was open on the same
// PC a moment before under a hidden name of its own for good. False, with errno set, when the
// file could not be moved or removed.
bool retire(const QString& path, bool onServer, const QByteArray& id);

// Removes the files that other copies retired beside the ranking file (never one of ownId's).
// Called by the holder of the lock only, so that no retired file is still in use.
void sweepRetired(const QString& rankingPath, const QByteArray& ownId);

} // namespace storage::fileio

// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/file_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <iterator>

#include <cerrno>
#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace storage::fileio {

void Descriptor::reset(int other)
{
    if (fd >= 0)
        ::close(fd);
    fd = other;
}

int openPath(const QString& path, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int openIn(int folderFd, const QString& name, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::openat(folderFd, QFile::encodeName(name).constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void dropCached(int fd)
{
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

bool readAt(int fd, qint64 offset, qsizetype n, QByteArray& out)
{
    out.resize(n);
    qsizetype got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, out.data() + got, size_t(n - got), off_t(offset + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            out.clear();
            return false;
        }
        if (r == 0)
            break;
        got += r;
    }
    out.resize(got);
    return true;
}

bool writeAt(int fd, qint64 offset, QByteArrayView bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t r = ::pwrite(fd, bytes.data() + done, size_t(bytes.size() - done), off_t(offset + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        done += r;
    }
    return true;
}

bool sync(int fd)
{
    int r;
    do {
        r = ::fsync(fd);
    } while (r != 0 && errno == EINTR);
    return r == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS;
}

void syncFolder(const QString& folder)
{
    const Descriptor dir(openPath(folder, O_RDONLY | O_DIRECTORY));
    if (dir)
        sync(dir.get());
}

qint64 sizeOf(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? qint64(st.st_size) : -1;
}

bool onLocalDisk(int fd)
{
    struct statfs s {};
    if (::fstatfs(fd, &s) != 0)
        return false;
    constexpr unsigned long local[] = {
        0xEF53UL,     // ext2, ext3, ext4
        0x58465342UL, // xfs
        0x9123683EUL, // btrfs
        0x01021994UL, // tmpfs
        0x794C7630UL, // overlayfs
        0xF2F52010UL, // f2fs
        0x2FC12FC1UL, // zfs
        0x4D44UL,     // vfat
        0x2011BAB0UL, // exfat
        0x7366746EUL, // ntfs3
    };
    return std::find(std::begin(local), std::end(local), static_cast<unsigned long>(s.f_type)) != std::end(local);
}

QByteArray randomId()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
}

bool retire(const QString& path, bool onServer, const QByteArray& id)
{
    const QByteArray from = QFile::encodeName(path);
    if (onServer) {
        const QString aside = path + QLatin1Char('.') + QString::fromLatin1(id) + QStringLiteral(".gone");
        return renameFile(from.constData(), QFile::encodeName(aside).constData()) == 0;
    }
    if (::unlink(from.constData()) == 0)
        return true;
    return errno == EISDIR && ::rmdir(from.constData()) == 0;
}

void sweepRetired(const QString& rankingPath, const QByteArray& ownId)
{
    const QFileInfo ranking(rankingPath);
    QDir folder(ranking.absolutePath());
    const QStringList names = folder.entryList({ranking.fileName() + QStringLiteral(".*.gone")},
                                               QDir::AllEntries | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (name.contains(QString::fromLatin1(ownId)))
            continue;
        const QByteArray path = QFile::encodeName(folder.filePath(name));
        if (::unlink(path.constData()) != 0)
            ::rmdir(path.constData()); // a directory that stood where the lock goes, if empty
    }
}

} // namespace storage::fileio

// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/ranking_place.h"

#include "storage/ranking_journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace storage {

using namespace fileio;

namespace {

// A new ranking file is as shared as its folder: writable by the group or by everyone where
// the folder is.
mode_t newFileMode(const QString& folder)
{
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return 0644;
    return 0644 | (st.st_mode & 0022);
}

mode_t newFileMode(int folderFd)
{
    struct stat st {};
    if (::fstat(folderFd, &st) != 0)
        return 0644;
    return 0644 | (st.st_mode & 0022);
}

bool refused(int error)
{
    return error == EACCES || error == EROFS || error == EPERM || error == ETXTBSY;
}

} // namespace

QString playerDataDirectory()
{
    // A relative XDG_DATA_HOME is no data directory (it would move with the working
    // directory): the default under the home directory stands in for it.
    const QString own = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!dataHome.isEmpty() && QDir::isAbsolutePath(dataHome))
        return own;
    return QDir::homePath() + QStringLiteral("/.local/share") + own.mid(dataHome.size());
}

Opened openRanking(const QString& path, Descriptor& out)
{
    Opened kind = Opened::ReadWrite;
    out.reset(openPath(path, O_RDWR | O_NONBLOCK));
    if (!out && errno == ENOENT) {
        const mode_t mode = newFileMode(QFileInfo(path).absolutePath());
        out.reset(openPath(path, O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK, mode));
        if (out)
            ::fchmod(out.get(), mode);
        else if (errno == EEXIST) // made by another copy meanwhile; never through a link to a file not yet there
            out.reset(openPath(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK));
    } else if (!out && refused(errno)) {
        out.reset(openPath(path, O_RDONLY | O_NONBLOCK));
        if (!out)
            return refused(errno) ? Opened::Denied : Opened::Unusable;
        kind = Opened::ReadOnly;
    }
    struct stat st {};
    if (!out || ::fstat(out.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        out.reset();
        return Opened::Unusable;
    }
    ::fcntl(out.get(), F_SETFL, ::fcntl(out.get(), F_GETFL) & ~O_NONBLOCK);
    return kind;
}

Opened openForSaving(int folderFd, const QString& name, Descriptor& out)
{
    constexpr int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK;
    out.reset(openIn(folderFd, name, flags));
    if (!out && errno == ENOENT) {
        const mode_t mode = newFileMode(folderFd);
        out.reset(openIn(folderFd, name, flags | O_CREAT | O_EXCL, mode));
        if (out)
            ::fchmod(out.get(), mode);
        else if (errno == EEXIST) // made by another copy meanwhile
            out.reset(openIn(folderFd, name, flags));
    }
    if (!out)
        return errno == ELOOP || refused(errno) ? Opened::Denied : Opened::Unusable;
    struct stat st {};
    if (::fstat(out.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1
        || !journal::couldWrite(st.st_uid, st)) {
        out.reset();
        return Opened::Denied;
    }
    ::fcntl(out.get(), F_SETFL, ::fcntl(out.get(), F_GETFL) & ~O_NONBLOCK);
    dropCached(out.get());
    return Opened::ReadWrite;
}

PlacedFile openPlaced(const RankingPlace& place)
{
    PlacedFile placed;
    const QString programDirectory =
        place.programDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : place.programDirectory;
    placed.path = QDir(programDirectory).filePath(rankingFileName);
    placed.kind = openRanking(placed.path, placed.fd);
    if (placed.kind == Opened::Unusable) {
        // No shared lists to show: the player's own file keeps this player's entries.
        const QString directory = place.fallbackDirectory.isEmpty() ? playerDataDirectory() : place.fallbackDirectory;
        if (!directory.isEmpty() && QDir().mkpath(directory)) {
            placed.path = QDir(directory).filePath(rankingFileName);
            placed.kind = openRanking(placed.path, placed.fd);
        }
    }
    return placed;
}

} // namespace storage

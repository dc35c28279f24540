// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/ranking_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QSysInfo>
#include <QtEndian>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace results {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Between two tries for a lock that another copy holds.
constexpr auto waitStep = 20ms;
// The most of a journal that is read back: two heads of 75 records and a little more.
constexpr qsizetype journalLimit = 4096;
const QByteArray journalMagic = QByteArrayLiteral("nubora1 journal\n");

void reach(const RankingOptions& options, WriteStep step)
{
    if (options.writeHook)
        options.writeHook(step);
}

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void reset(int other = -1)
    {
        if (fd >= 0)
            ::close(fd);
        fd = other;
    }
    int get() const { return fd; }
    int release() { return std::exchange(fd, -1); }
    explicit operator bool() const { return fd >= 0; }

private:
    int fd = -1;
};

int openPath(const QString& path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Up to n bytes from offset on, fewer where the file ends; false when reading fails.
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

// Pushes what was written to the disk (or the server). A file system that cannot be asked
// to (an sshfs server without the extension) counts as done.
bool sync(int fd)
{
    return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS;
}

qint64 sizeOf(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? qint64(st.st_size) : -1;
}

// File systems on this machine's own disks and memory: a byte-range lock on the ranking file
// excludes every program on the machine, whoever runs it, and ends with its holder. On a
// file server the lock may not reach the other PCs (sshfs keeps it on the client), or may
// outlive a PC that died (NFS and SMB servers hold it for minutes), so there the lock file
// beside the ranking file is used instead.
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
    return std::ranges::find(local, static_cast<unsigned long>(s.f_type)) != std::end(local);
}

QByteArray randomId()
{
    return QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
}

// A file of the program's own beside the ranking file goes. On a file server it is only
// renamed to a name of this copy's own: a client such as sshfs keeps a file that was open on
// the same PC a moment before under a hidden name of its own for good. The next copy that
// holds the lock removes it (sweepRetired), having never opened it. False, with errno set,
// when the file could not be moved or removed.
bool retire(const QString& path, bool onServer, const QByteArray& id)
{
    const QByteArray from = QFile::encodeName(path);
    if (onServer) {
        const QString aside = path + QLatin1Char('.') + QString::fromLatin1(id) + QStringLiteral(".gone");
        return ::rename(from.constData(), QFile::encodeName(aside).constData()) == 0;
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

// ---- Locks ---------------------------------------------------------------------------------

// A write lock over the whole ranking file, on the open file description: every program on
// this machine that saves takes it, and it ends with the descriptor, or with the program.
class RangeLock {
public:
    explicit RangeLock(int fd) : fd(fd) {}
    ~RangeLock()
    {
        if (held) {
            struct flock fl {};
            fl.l_type = F_UNLCK;
            fl.l_whence = SEEK_SET;
            ::fcntl(fd, F_OFD_SETLK, &fl);
        }
    }
    RangeLock(const RangeLock&) = delete;
    RangeLock& operator=(const RangeLock&) = delete;

    bool acquire(Clock::time_point deadline, const RankingOptions& options)
    {
        bool told = false;
        for (;;) {
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            if (::fcntl(fd, F_OFD_SETLK, &fl) == 0)
                return held = true;
            if (errno != EAGAIN && errno != EACCES && errno != EINTR)
                return false;
            if (Clock::now() >= deadline)
                return false;
            if (!std::exchange(told, true))
                reach(options, WriteStep::WaitingForLock);
            std::this_thread::sleep_for(waitStep);
        }
    }

private:
    int fd;
    bool held = false;
};

// The lock file beside the ranking file on a file server. Created exclusively, which the
// server decides for every PC at once. Its holder rewrites a beat counter in it every quarter
// of the stale time; a PC that waits sees the lock as left behind when the contents stay the
// same for the stale time by its own clock, so the clocks of the PCs need not agree. Taking
// it over moves it aside under a name of the taker's own first (only one taker can), and
// checks that what it moved is what it saw.
class LockFile {
public:
    enum class Result { Held, TimedOut, Impossible };

    LockFile(QString path, const RankingOptions& options) : path(std::move(path)), options(options) {}
    ~LockFile()
    {
        if (!heart.joinable())
            return;
        {
            const std::lock_guard guard(mutex);
            stopping = true;
        }
        wake.notify_all();
        heart.join();
        fd.reset();
        if (stillOurs())
            retire(path, true, id);
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    Result acquire(Clock::time_point deadline)
    {
        std::optional<QByteArray> seen;
        Clock::time_point seenSince;
        bool told = false;
        int refusals = 0;
        for (;;) {
            fd.reset(openPath(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644));
            if (fd) {
                if (!writeBeat() || !sync(fd.get())) {
                    fd.reset();
                    retire(path, true, id);
                    return Result::Impossible;
                }
                heart = std::thread([this] { beatUntilStopped(); });
                return Result::Held;
            }
            // An sshfs server answers an exclusive create of a file that exists with a plain
            // failure (EPERM): only a lock path that stays free tells a refusing folder.
            if (errno != EEXIST && !(errno == EPERM && exists(path)) && ++refusals >= 3)
                return Result::Impossible; // the folder takes no new file: no lock can be had
            const QByteArray now = contents(path);
            const auto at = Clock::now();
            if (!seen || *seen != now) {
                seen = now;
                seenSince = at;
            } else if (at - seenSince >= options.staleLock) {
                if (!takeOver(now))
                    return Result::Impossible;
                seen.reset();
                continue;
            }
            if (at >= deadline)
                return Result::TimedOut;
            if (!std::exchange(told, true))
                reach(options, WriteStep::WaitingForLock);
            std::this_thread::sleep_for(waitStep);
        }
    }

    // Whether the lock file is still this holder's (another PC took no lock over from it). A
    // PC taking over a left-behind lock at the same moment as another may move this one aside
    // for a moment before it puts it back; that is waited out.
    bool stillOurs() const
    {
        for (int look = 0; look < 10; ++look) {
            if (contents(path).startsWith(identity()))
                return true;
            std::this_thread::sleep_for(waitStep);
        }
        return false;
    }
    const QByteArray& ownId() const { return id; }

private:
    QByteArray identity() const
    {
        return "nubora1 lock " + QSysInfo::machineHostName().toUtf8() + ' ' + QByteArray::number(::getpid()) + ' '
               + id + " beat ";
    }

    bool writeBeat()
    {
        const QByteArray text = identity() + QByteArray::number(beats++).rightJustified(10, '0') + '\n';
        return writeAt(fd.get(), 0, text);
    }

    void beatUntilStopped()
    {
        std::unique_lock guard(mutex);
        const auto beat = std::max<std::chrono::milliseconds>(options.staleLock / 4, waitStep);
        while (!wake.wait_for(guard, beat, [this] { return stopping; })) {
            writeBeat();
            sync(fd.get());
        }
    }

    static bool exists(const QString& file)
    {
        struct stat st {};
        return ::lstat(QFile::encodeName(file).constData(), &st) == 0;
    }

    // What a lock file holds; a fixed text for one that cannot be read (a directory, a link
    // to nowhere), so that it, too, counts as left behind once it stays.
    static QByteArray contents(const QString& file)
    {
        const Descriptor d(openPath(file, O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
        QByteArray bytes;
        if (d && readAt(d.get(), 0, 256, bytes))
            return bytes;
        return errno == ENOENT ? QByteArray() : "unreadable " + QByteArray::number(errno);
    }

    // Moves the left-behind lock aside under a retired name. Only one PC at a time does: it
    // holds "tavon.rnk.lock.takeover", made exclusively, and checks that the lock still holds
    // what it saw. A guard left by a PC that died while taking over goes once it has stood
    // unchanged for twice the stale time. False only when the folder refuses all this.
    bool takeOver(const QByteArray& seen)
    {
        const QString guardPath = path + QStringLiteral(".takeover");
        Descriptor guard(openPath(guardPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644));
        if (!guard) {
            if (errno != EEXIST && !(errno == EPERM && exists(guardPath)))
                return false;
            const QByteArray now = contents(guardPath);
            if (!guardSeen || *guardSeen != now) {
                guardSeen = now;
                guardSince = Clock::now();
            } else if (Clock::now() - guardSince >= 2 * options.staleLock) {
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

    QString path;
    const RankingOptions& options;
    QByteArray id = randomId();
    Descriptor fd;
    quint32 beats = 0;
    std::optional<QByteArray> guardSeen;
    Clock::time_point guardSince;
    std::thread heart;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
};

// Whichever lock the ranking file's file system calls for.
class SaveLock {
public:
    SaveLock(int fd, const QString& path, const RankingOptions& options) : rankingPath(path), options(options)
    {
        if (onLocalDisk(fd))
            range.emplace(fd);
        else
            file.emplace(path + rankingLockSuffix, options);
    }
    bool acquire(Clock::time_point deadline)
    {
        if (range)
            return range->acquire(deadline, options);
        if (file->acquire(deadline) != LockFile::Result::Held)
            return false;
        sweepRetired(rankingPath, file->ownId());
        return true;
    }
    bool stillOurs() const { return range || file->stillOurs(); }
    bool onServer() const { return file.has_value(); }
    QByteArray id() const { return file ? file->ownId() : QByteArray(); }

private:
    QString rankingPath;
    const RankingOptions& options;
    std::optional<RangeLock> range;
    std::optional<LockFile> file;
};

// ---- Journal -------------------------------------------------------------------------------

// What a save is about to do to the file's first bytes: oldHead is what stands there now
// (shorter than newHead where the file is), newHead what it writes.
struct Journal {
    qint64 oldSize = 0;
    QByteArray oldHead;
    QByteArray newHead;
};

quint64 fingerprint(QByteArrayView bytes)
{
    quint64 h = 14695981039346656037ULL; // FNV-1a
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

template <typename T>
void appendLittleEndian(QByteArray& bytes, T value)
{
    char raw[sizeof(T)];
    qToLittleEndian(value, raw);
    bytes.append(raw, sizeof(T));
}

QByteArray encodeJournal(const Journal& j)
{
    QByteArray body;
    appendLittleEndian<qint64>(body, j.oldSize);
    appendLittleEndian<quint32>(body, quint32(j.oldHead.size()));
    appendLittleEndian<quint32>(body, quint32(j.newHead.size()));
    body += j.oldHead + j.newHead;
    QByteArray bytes = journalMagic + body;
    appendLittleEndian<quint64>(bytes, fingerprint(body));
    return bytes;
}

// Nothing for a journal cut short while it was written: the file was not touched yet then.
std::optional<Journal> decodeJournal(QByteArrayView bytes)
{
    constexpr qsizetype fixed = 8 + 4 + 4;
    if (!bytes.startsWith(journalMagic) || bytes.size() < journalMagic.size() + fixed + 8)
        return std::nullopt;
    const QByteArrayView body = bytes.sliced(journalMagic.size(), bytes.size() - journalMagic.size() - 8);
    if (qFromLittleEndian<quint64>(bytes.constData() + bytes.size() - 8) != fingerprint(body))
        return std::nullopt;
    Journal j;
    j.oldSize = qFromLittleEndian<qint64>(body.data());
    const auto oldLength = qFromLittleEndian<quint32>(body.data() + 8);
    const auto newLength = qFromLittleEndian<quint32>(body.data() + 12);
    if (qsizetype(oldLength) + qsizetype(newLength) != body.size() - fixed || oldLength > newLength)
        return std::nullopt;
    j.oldHead = body.sliced(fixed, oldLength).toByteArray();
    j.newHead = body.sliced(fixed + oldLength, newLength).toByteArray();
    return j;
}

// Whether the file's first bytes are what the journal's save leaves when cut short: every
// byte as it was or as the save writes it, and not all of them written yet. Anything else
// means that a later save has written the file since, and the journal is left over.
bool cutShort(const Journal& j, QByteArrayView now)
{
    bool allNew = now.size() == j.newHead.size();
    for (qsizetype k = 0; k < j.newHead.size(); ++k) {
        const bool has = k < now.size();
        const bool isNew = has && now[k] == j.newHead[k];
        const bool isOld = k < j.oldHead.size() ? has && now[k] == j.oldHead[k] : !has;
        if (!isNew && !isOld)
            return false;
        allNew = allNew && isNew;
    }
    return !allNew;
}

// The journal goes once its save is done or undone. Where the folder lets no one but its
// maker remove it (a sticky folder), it is emptied instead.
void discardJournal(const QString& path, const SaveLock& lock)
{
    retire(path, lock.onServer(), lock.id());
    if (::access(QFile::encodeName(path).constData(), F_OK) != 0)
        return;
    Descriptor d(openPath(path, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK));
}

std::optional<Journal> readJournal(const QString& path)
{
    Descriptor d(openPath(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    QByteArray bytes;
    if (!d || !readAt(d.get(), 0, journalLimit, bytes))
        return std::nullopt;
    return decodeJournal(bytes);
}

// Under the lock: a save cut short by a crash left its journal; the records it overwrote are
// put back. False when that is needed and fails.
bool recover(int fd, const QString& journalPath, const SaveLock& lock)
{
    if (const std::optional<Journal> j = readJournal(journalPath)) {
        QByteArray now;
        if (!readAt(fd, 0, j->newHead.size(), now))
            return false;
        if (cutShort(*j, now)) {
            if (!writeAt(fd, 0, j->oldHead))
                return false;
            if (j->oldSize < j->newHead.size() && sizeOf(fd) > j->oldSize && ::ftruncate(fd, j->oldSize) != 0)
                return false;
            if (!sync(fd))
                return false;
        }
    }
    discardJournal(journalPath, lock);
    return true;
}

// Writes the journal and pushes it to the disk. Nothing (and no error) when the folder takes
// no new file; an error when it takes one but the write fails (a full disk).
enum class Journaled { Yes, NotPossible, Failed };
Journaled writeJournal(const QString& path, const Journal& j, mode_t mode, const SaveLock& lock)
{
    Descriptor d(openPath(path, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK));
    if (!d && errno == ENOENT) {
        d.reset(openPath(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode));
        // Whoever may write the ranking file may replay and remove its journal.
        if (d)
            ::fchmod(d.get(), mode);
    }
    if (!d)
        return Journaled::NotPossible;
    if (!writeAt(d.get(), 0, encodeJournal(j)) || !sync(d.get())) {
        d.reset();
        discardJournal(path, lock);
        return Journaled::Failed;
    }
    // The journal's name, too, must be on the disk before the file is touched.
    const QString folder = QFileInfo(path).absolutePath();
    Descriptor dir(openPath(folder, O_RDONLY | O_DIRECTORY));
    if (dir)
        ::fsync(dir.get());
    return Journaled::Yes;
}

// ---- Opening -------------------------------------------------------------------------------

// A new ranking file is as shared as its folder: writable by the group or by everyone where
// the folder is.
mode_t newFileMode(const QString& folder)
{
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return 0644;
    return 0644 | (st.st_mode & 0022);
}

// ReadOnly and Denied: the file is there, but this player may not write it (or not even
// read it). Unusable: no plain file is there, and none can be made.
enum class Opened { ReadWrite, ReadOnly, Denied, Unusable };

bool refused(int error)
{
    return error == EACCES || error == EROFS || error == EPERM || error == ETXTBSY;
}

// Opens the ranking file at path, creating it when missing. Only a plain file will do: a
// pipe or a device would block the program or feed it without end.
Opened openRanking(const QString& path, Descriptor& out)
{
    Opened kind = Opened::ReadWrite;
    out.reset(openPath(path, O_RDWR | O_NONBLOCK));
    if (!out && errno == ENOENT) {
        const mode_t mode = newFileMode(QFileInfo(path).absolutePath());
        out.reset(openPath(path, O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK, mode));
        if (out)
            ::fchmod(out.get(), mode);
        else if (errno == EEXIST) // made by another copy meanwhile, or a link to a file not yet there
            out.reset(openPath(path, O_RDWR | O_CREAT | O_NONBLOCK, mode));
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

RankingFile::RankingFile(RankingOptions options) : opts(std::move(options)) {}

void RankingFile::read(BestFiveLists& lists)
{
    close();
    const QString programDirectory =
        opts.programDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : opts.programDirectory;
    filePath = QDir(programDirectory).filePath(rankingFileName);
    Descriptor d;
    Opened kind = openRanking(filePath, d);
    if (kind == Opened::Unusable) {
        // No shared lists to show: the player's own file keeps this player's entries.
        const QString directory = opts.fallbackDirectory.isEmpty() ? playerDataDirectory() : opts.fallbackDirectory;
        if (!directory.isEmpty() && QDir().mkpath(directory)) {
            filePath = QDir(directory).filePath(rankingFileName);
            kind = openRanking(filePath, d);
        }
    }
    writable = kind == Opened::ReadWrite;
    if (!d)
        return readLists({}, lists);

    // A save cut short by a crash is undone first, when no other copy is saving; otherwise
    // the lists are shown as they stood before the save that is under way or was cut short.
    const QString journal = filePath + rankingJournalSuffix;
    if (writable && QFileInfo::exists(journal)) {
        SaveLock lock(d.get(), filePath, opts);
        if (lock.acquire(Clock::now()))
            recover(d.get(), journal, lock);
    }
    // Records 1 to 21 are what the lists take in; the rest is read only to tell a save cut
    // short from one that ran through.
    QByteArray head;
    readAt(d.get(), 0, savedBytes, head);
    if (const std::optional<Journal> j = readJournal(journal); j && cutShort(*j, head.left(j->newHead.size())))
        head = (j->oldHead + head.mid(j->oldHead.size())).left(qMax(j->oldSize, qint64(j->oldHead.size())));
    readLists(head, lists);
    fd = d.release();
}

bool RankingFile::save(const NewEntry& entry)
{
    return rewrite(savedBytes,
                   [&entry](QByteArrayView head) { return savedRecords(head, entry); });
}

bool RankingFile::blank()
{
    return rewrite(readBytes, [](QByteArrayView) { return blankedRecords(); });
}

void RankingFile::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool RankingFile::rewrite(qsizetype keepFromFile, const std::function<QByteArray(QByteArrayView head)>& build)
{
    if (!writable)
        return false;
    reach(opts, WriteStep::Starting);
    // Opened afresh by its name: on a file server that also reads what the other PCs wrote.
    Descriptor file;
    if (openRanking(filePath, file) != Opened::ReadWrite)
        return false;
    bool done = false;
    {
        SaveLock lock(file.get(), filePath, opts);
        if (!lock.acquire(Clock::now() + opts.lockWait))
            return false;
        reach(opts, WriteStep::Locked);
        const QString journalPath = filePath + rankingJournalSuffix;
        QByteArray head;
        struct stat st {};
        if (!recover(file.get(), journalPath, lock) || !readAt(file.get(), 0, savedBytes, head)
            || ::fstat(file.get(), &st) != 0)
            return false;
        reach(opts, WriteStep::Reread);
        Journal j{qint64(st.st_size), head.left(keepFromFile), build(head)};

        const Journaled journaled = writeJournal(journalPath, j, st.st_mode & 0666, lock);
        if (journaled == Journaled::Failed || !lock.stillOurs())
            return false;
        if (journaled == Journaled::Yes) {
            // Record by record: a crash in between is undone from the journal.
            reach(opts, WriteStep::Journaled);
            done = true;
            for (qsizetype at = 0; done && at < j.newHead.size(); at += recordBytes) {
                done = writeAt(file.get(), at, QByteArrayView(j.newHead).sliced(at, recordBytes));
                if (done)
                    reach(opts, WriteStep::Written);
            }
        } else {
            // No journal can be made beside the file (a folder that takes no new file): one
            // write, which a crash of the program cannot cut in two.
            done = writeAt(file.get(), 0, j.newHead);
            if (done)
                reach(opts, WriteStep::Written);
        }
        done = done && sync(file.get());
        if (!done) {
            // Refused part way (a full disk, a size limit): the old records go back at once.
            if (writeAt(file.get(), 0, j.oldHead) && (st.st_size >= j.newHead.size() || ::ftruncate(file.get(), st.st_size) == 0)
                && sync(file.get()) && journaled == Journaled::Yes)
                discardJournal(journalPath, lock);
        } else if (journaled == Journaled::Yes) {
            discardJournal(journalPath, lock);
        }
    }
    reach(opts, WriteStep::Finished);
    return done;
}

} // namespace results

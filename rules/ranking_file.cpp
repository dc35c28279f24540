#include "rules/ranking_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <utility>

namespace results {

namespace {

using namespace std::chrono_literals;

constexpr qint64 tailChunk = 64 * 1024;

void reach(const RankingOptions& options, WriteStep step)
{
    if (options.writeHook)
        options.writeHook(step);
}

// Only a plain file (or none yet) can be the ranking file: a directory cannot be opened, and
// a pipe or a device would block the program or feed it without end.
bool usablePath(const QString& path)
{
    const QFileInfo info(path);
    return !info.exists() || info.isFile();
}

// The lock beside the ranking file, held while one copy re-reads and replaces the file.
class FileLock {
public:
    FileLock(const QString& path, const RankingOptions& options) : path(path), options(options), lock(path)
    {
        lock.setStaleLockTime(options.staleLock);
    }
    ~FileLock()
    {
        if (held)
            lock.unlock();
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // False only when another copy still holds the lock after the wait. Where no lock can be
    // made at all (a read-only directory, a full disk, something else in its place) the file
    // is written without one rather than not at all.
    bool acquire()
    {
        if (!usablePath(path))
            return true;
        held = lock.tryLock(0);
        if (held || lock.error() != QLockFile::LockFailedError)
            return true;
        reach(options, WriteStep::WaitingForLock);
        held = lock.tryLock(options.lockWait);
        return held || lock.error() != QLockFile::LockFailedError;
    }

private:
    QString path;
    const RankingOptions& options;
    QLockFile lock;
    bool held = false;
};

// Writes the new records one by one, each pushed to the system before the next: a write that
// fails shows at once. (Qt 6.4's QSaveFile::commit() reports success after a buffered write
// that failed, and would put a cut-short file in place of the old one.)
bool writeRecords(const RankingOptions& options, QFileDevice& out, const QByteArray& records)
{
    for (qsizetype at = 0; at < records.size(); at += recordBytes) {
        const QByteArray piece = records.sliced(at, qMin<qsizetype>(recordBytes, records.size() - at));
        if (out.write(piece) != piece.size() || !out.flush() || out.error() != QFileDevice::NoError)
            return false;
        reach(options, WriteStep::Written);
    }
    return true;
}

// Copies what the old file holds from offset on, which the new records do not replace.
bool copyTail(const RankingOptions& options, QFile& source, qint64 offset, QFileDevice& out)
{
    if (!source.isOpen() || source.size() <= offset)
        return true;
    if (!source.seek(offset))
        return false;
    for (;;) {
        const QByteArray chunk = source.read(tailChunk);
        if (source.error() != QFileDevice::NoError)
            return false;
        if (chunk.isEmpty())
            return true;
        if (out.write(chunk) != chunk.size() || !out.flush() || out.error() != QFileDevice::NoError)
            return false;
        reach(options, WriteStep::Written);
    }
}

// Replaces the file at path with the new records followed by the old file's bytes after them:
// written complete beside it, flushed, then renamed over it. Where the directory refuses a
// new file but the file itself is writable, its first records are overwritten in place
// instead: the new records are never shorter than the records the file starts with, so
// nothing after them changes and the file never gets shorter.
bool replaceFile(const RankingOptions& options, const QString& path, const QByteArray& records, QFile& old)
{
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly)) {
        reach(options, WriteStep::Opened);
        if (!writeRecords(options, out, records) || !copyTail(options, old, records.size(), out)) {
            out.cancelWriting();
            return false;
        }
        if (!out.commit())
            return false;
        reach(options, WriteStep::Replaced);
        return true;
    }
    QFile inPlace(path);
    if (!QFileInfo(path).isFile() || !inPlace.open(QIODevice::ReadWrite))
        return false;
    reach(options, WriteStep::Opened);
    if (!writeRecords(options, inPlace, records))
        return false;
    inPlace.close();
    if (inPlace.error() != QFileDevice::NoError)
        return false;
    reach(options, WriteStep::Replaced);
    return true;
}

// Under the lock: re-reads the file as it is now and replaces it with the records that
// makeRecords builds from its first 75 records.
bool rewriteFile(const RankingOptions& options, const QString& path,
                 const std::function<QByteArray(QByteArrayView head)>& makeRecords)
{
    reach(options, WriteStep::Starting);
    bool written = false;
    {
        FileLock lock(path + rankingLockSuffix, options);
        if (!lock.acquire())
            return false;
        reach(options, WriteStep::Locked);
        if (!usablePath(path))
            return false;
        QFile old(path);
        QByteArray head;
        if (old.exists()) {
            if (!old.open(QIODevice::ReadOnly))
                return false;
            head = old.read(qint64(entryCount) * recordBytes);
            if (old.error() != QFileDevice::NoError)
                return false;
        }
        reach(options, WriteStep::Reread);
        written = replaceFile(options, path, makeRecords(head), old);
    }
    reach(options, WriteStep::Finished);
    return written;
}

// The fallback file starts as a copy of the program's own file, when there is one to read,
// so that the lists seen so far are kept.
void startFallbackFrom(const RankingOptions& options, const QString& programFile, const QString& fallbackFile)
{
    if (QFileInfo::exists(fallbackFile) || !QFileInfo(programFile).isFile())
        return;
    FileLock lock(fallbackFile + rankingLockSuffix, options);
    if (!lock.acquire() || QFileInfo::exists(fallbackFile))
        return;
    QFile source(programFile);
    if (source.open(QIODevice::ReadOnly))
        replaceFile(options, fallbackFile, {}, source);
}

} // namespace

RankingFile::RankingFile(RankingOptions options) : options(std::move(options)) {}

bool RankingFile::openFor(const QString& path, QIODevice::OpenMode mode)
{
    file.setFileName(path);
    return usablePath(path) && file.open(mode);
}

void RankingFile::read(BestFiveLists& lists)
{
    close();
    const QString programDirectory = options.programDirectory.isEmpty() ? QCoreApplication::applicationDirPath()
                                                                        : options.programDirectory;
    const QString programFile = QDir(programDirectory).filePath(rankingFileName);
    writable = openFor(programFile, QIODevice::ReadWrite);
    if (!writable) {
        const QString directory = options.fallbackDirectory.isEmpty()
                                      ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                                      : options.fallbackDirectory;
        if (!directory.isEmpty() && QDir().mkpath(directory)) {
            const QString fallbackFile = QDir(directory).filePath(rankingFileName);
            startFallbackFrom(options, programFile, fallbackFile);
            writable = openFor(fallbackFile, QIODevice::ReadWrite);
        }
    }
    if (!writable)
        openFor(programFile, QIODevice::ReadOnly); // the lists can still be shown

    QByteArray head;
    if (file.isOpen())
        head = file.read(qint64(readCount) * recordBytes);
    readLists(head, lists);
}

bool RankingFile::save(const NewEntry& entry)
{
    return rewrite([&entry](QByteArrayView head) { return savedRecords(head, entry); });
}

bool RankingFile::blank()
{
    return rewrite([](QByteArrayView) { return blankedRecords(); });
}

void RankingFile::close()
{
    file.close();
}

bool RankingFile::rewrite(const std::function<QByteArray(QByteArrayView head)>& build)
{
    if (!writable)
        return false;
    // Released before the replacement, which some systems refuse over an open file. What is
    // read again is the file under its name: another copy may have replaced it since Read.
    file.close();
    return rewriteFile(options, file.fileName(), build);
}

} // namespace results

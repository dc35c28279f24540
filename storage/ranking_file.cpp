// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/ranking_file.h"

#include "storage/file_io.h"
#include "storage/ranking_journal.h"
#include "storage/save_lock.h"

#include <QFileInfo>

#include <optional>
#include <utility>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace storage {

namespace {

using namespace fileio;
using namespace results; // the records and lists of rules/ranking.h

// The file's bytes as the game library takes them.
std::string_view view(QByteArrayView bytes)
{
    return {bytes.data(), static_cast<std::size_t>(bytes.size())};
}

void reach(const RankingOptions& options, WriteStep step)
{
    if (options.writeHook)
        options.writeHook(step);
}

// How one try of a save ended: as the save would, or with its lock taken over by another PC
// while this one froze, before all its records were written (the taker rolled back what
// was: the save may start afresh) or after (the taker kept them).
struct Try {
    enum Lost { No, BeforeAllWritten, AfterAllWritten };
    SaveResult result;
    Lost lost = No;
};

// A save that could not take the lock.
SaveResult failed(LockResult lock)
{
    return lock == LockResult::TimedOut ? SaveResult::Busy : SaveResult::NoLock;
}

// The journal at path goes if it still holds what this save wrote into it: a taker that has
// not read it yet has nothing to roll back, as this save wrote no record.
void discardIfOurs(const QString& path, const journal::Journal& j, const SaveLock& lock)
{
    Descriptor d(openPath(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    const QByteArray ours = journal::encode(j);
    QByteArray there;
    if (d)
        dropCached(d.get());
    const bool same = d && readAt(d.get(), 0, ours.size() + 1, there) && there == ours;
    d.reset(); // closed before it is renamed
    if (same)
        retire(path, lock.onServer(), lock.id());
}

// Takes the save lock and opens the ranking file at path for writing (openForSaving). On a
// disk of this machine the file is opened first, since the range lock is taken on it; on a
// file server it is opened only once the lock is held, so that no client cache answers the
// re-read with bytes from before the lock. Saved when both are held.
SaveResult lockAndOpen(const QString& path, const RankingOptions& opts, SaveClock::time_point deadline,
                       Descriptor& file, std::optional<SaveLock>& lock)
{
    const QFileInfo info(path);
    const Descriptor folder(openPath(info.absolutePath(), O_PATH | O_DIRECTORY));
    if (!folder)
        return SaveResult::NotWritable;
    const bool local = onLocalDisk(folder.get());
    if (local && openForSaving(folder.get(), info.fileName(), file) != Opened::ReadWrite)
        return SaveResult::NotWritable;
    lock.emplace(local ? file.get() : -1, path, opts);
    if (const LockResult got = lock->acquire(deadline); got != LockResult::Held)
        return failed(got);
    if (!local && openForSaving(folder.get(), info.fileName(), file) != Opened::ReadWrite)
        return SaveResult::NotWritable;
    return SaveResult::Saved;
}

// A save whose lock was taken over with the first written bytes of its records in the file.
// The taker judged it by its journal against the file (ranking_journal.h), and kept it when
// complete; this save judges itself by the same evidence, so that it never goes in twice. A
// save that changes nothing is never complete: none of it is in the file.
Try::Lost lostAt(const journal::Journal& j, qsizetype written)
{
    const QByteArray file = j.newHead.left(written) + j.oldHead.mid(written);
    return j.newHead != j.oldHead && journal::stateOf(j, file) == journal::State::Completed ? Try::AfterAllWritten
                                                                                            : Try::BeforeAllWritten;
}

// One try: lock, re-read, journal, write record by record, read back. before is the file's
// head as this try found it.
Try tryRewrite(const QString& filePath, const RankingOptions& opts, qsizetype keepFromFile,
               const std::function<QByteArray(QByteArrayView head)>& build, SaveClock::time_point deadline,
               QByteArray& before)
{
    Descriptor file; // outlives the lock, which may be taken on it
    std::optional<SaveLock> lock;
    if (const SaveResult got = lockAndOpen(filePath, opts, deadline, file, lock); !got)
        return {got};
    reach(opts, WriteStep::Locked);
    const QString journalPath = filePath + rankingJournalSuffix;
    struct stat st {};
    if (!journal::recover(file.get(), journalPath, lock->onServer(), lock->id(), [&lock] { return lock->mayWrite(); }))
        return lock->mayWrite() ? Try{SaveResult::WriteFailed} : Try{SaveResult::TakenOver, Try::BeforeAllWritten};
    if (!readAt(file.get(), 0, savedBytes, before) || ::fstat(file.get(), &st) != 0)
        return {SaveResult::WriteFailed};
    reach(opts, WriteStep::Reread);
    const journal::Journal j{qint64(st.st_size), before.left(keepFromFile), build(before)};

    Descriptor own;
    const journal::Made made = journal::write(journalPath, j, st.st_mode & 0666, own, lock->onServer(), lock->id());
    if (made == journal::Made::Failed)
        return {SaveResult::WriteFailed};
    if (!lock->mayWrite()) {
        own.reset();
        if (made == journal::Made::Yes)
            discardIfOurs(journalPath, j, *lock);
        return {SaveResult::TakenOver, Try::BeforeAllWritten};
    }
    qsizetype written = 0;
    bool done = true;
    if (made == journal::Made::Yes) {
        // Record by record: a crash in between is undone from the journal.
        reach(opts, WriteStep::Journaled);
        for (; done && written < j.newHead.size(); written += done ? recordBytes : 0) {
            // Taken over: the journal stays, and the taker rolled back what was written or
            // kept it whole.
            if (written > 0 && !lock->mayWrite())
                return {SaveResult::TakenOver, lostAt(j, written)};
            done = writeAt(file.get(), written, QByteArrayView(j.newHead).sliced(written, recordBytes));
            if (done)
                reach(opts, WriteStep::Written);
        }
    } else {
        // No journal can be made beside the file (a refused one is in the way, or the folder
        // takes no new file): one write, which a crash of the program cannot cut in two.
        done = writeAt(file.get(), 0, j.newHead);
        written = done ? j.newHead.size() : 0;
        if (done)
            reach(opts, WriteStep::Written);
    }
    done = done && sync(file.get());
    if (!lock->mayWrite())
        return {SaveResult::TakenOver, lostAt(j, written)};
    // Saved means saved: the file must read back as written.
    QByteArray back;
    done = done && readAt(file.get(), 0, j.newHead.size(), back) && back == j.newHead;
    if (!done) {
        // Refused part way (a full disk, a size limit): the old records go back at once, while
        // this save still holds the lock.
        if (!lock->mayWrite())
            return {SaveResult::TakenOver, lostAt(j, written)};
        if (writeAt(file.get(), 0, j.oldHead)
            && (st.st_size >= j.newHead.size() || ::ftruncate(file.get(), st.st_size) == 0) && sync(file.get())
            && made == journal::Made::Yes)
            journal::discard(journalPath, own, true, lock->onServer(), lock->id());
        return {SaveResult::WriteFailed};
    }
    if (made == journal::Made::Yes)
        journal::discard(journalPath, own, true, lock->onServer(), lock->id());
    return {SaveResult::Saved};
}

// How many of range hani's five records are this one.
int copiesIn(QByteArrayView head, std::int16_t hani, QByteArrayView one)
{
    int copies = 0;
    for (int place = 0; place < places; ++place) {
        const qsizetype at = qsizetype(hani * places + place) * recordBytes;
        copies += head.size() >= at + recordBytes && head.sliced(at, recordBytes) == one ? 1 : 0;
    }
    return copies;
}

} // namespace

RankingFile::RankingFile(RankingOptions options) : opts(std::move(options))
{
    // A write beyond a file-size limit fails (EFBIG) like any other, instead of ending the
    // program with the entry unsaved.
    ::signal(SIGXFSZ, SIG_IGN);
}

void RankingFile::read(BestFiveLists& lists)
{
    close();
    PlacedFile placed = openPlaced(opts);
    filePath = placed.path;
    writable = placed.kind == Opened::ReadWrite;
    Descriptor d = std::move(placed.fd);
    if (!d)
        return readLists({}, lists);

    // A save cut short by a crash is undone first, when no other copy is saving; otherwise
    // the lists are shown as they stood before the save that is under way or was cut short.
    const QString journalPath = filePath + rankingJournalSuffix;
    const bool journalThere = QFileInfo::exists(journalPath) || QFileInfo(journalPath).isSymLink();
    if (writable && journalThere) {
        Descriptor file;
        std::optional<SaveLock> lock;
        if (lockAndOpen(filePath, opts, SaveClock::now(), file, lock))
            journal::recover(file.get(), journalPath, lock->onServer(), lock->id(),
                             [&lock] { return lock->mayWrite(); });
    }
    // Records 1 to 21 are what the lists take in; the rest is read only to tell a save cut
    // short from one that ran through.
    QByteArray head;
    readAt(d.get(), 0, savedBytes, head);
    if (journalThere)
        head = journal::before(head, journalPath, d.get());
    readLists(view(head), lists);
    fd = d.release();
}

SaveResult RankingFile::save(const NewEntry& entry)
{
    Module1::seiseki mine;
    mine.simei = encodeName(entry.name);
    mine.kiroku = entry.tensu;
    const QByteArray one = QByteArray::fromStdString(packRecord(mine));
    return rewrite(
        savedBytes,
        [&entry](QByteArrayView head) { return QByteArray::fromStdString(savedRecords(view(head), entry)); },
        [&](QByteArrayView before, QByteArrayView now) {
            return BestFiveLists::hasRange(entry.hani)
                   && copiesIn(now, entry.hani, one) > copiesIn(before, entry.hani, one);
        });
}

SaveResult RankingFile::blank()
{
    // A clearing whose records were all written before its lock was taken over was kept by
    // the taker, which found it complete.
    return rewrite(
        readBytes, [](QByteArrayView) { return QByteArray::fromStdString(blankedRecords()); },
        [](QByteArrayView, QByteArrayView) { return true; });
}

void RankingFile::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

SaveResult RankingFile::rewrite(qsizetype keepFromFile, const std::function<QByteArray(QByteArrayView head)>& build,
                                const std::function<bool(QByteArrayView before, QByteArrayView now)>& landed)
{
    if (!writable)
        return SaveResult::NotWritable;
    reach(opts, WriteStep::Starting);
    const auto deadline = SaveClock::now() + opts.lockWait;
    QByteArray before;
    Try outcome{SaveResult::WriteFailed};
    do
        outcome = tryRewrite(filePath, opts, keepFromFile, build, deadline, before);
    while (outcome.lost == Try::BeforeAllWritten && SaveClock::now() < deadline);
    if (outcome.lost == Try::AfterAllWritten) {
        // Whether the entry is in the file as the taker left it.
        Descriptor file(openPath(filePath, O_RDONLY | O_NONBLOCK));
        if (file)
            dropCached(file.get());
        QByteArray now;
        if (!file || !readAt(file.get(), 0, savedBytes, now))
            outcome.result = SaveResult::WriteFailed;
        else
            outcome.result = landed(before, now) ? SaveResult::Saved : SaveResult::TakenOver;
    }
    reach(opts, WriteStep::Finished);
    return outcome.result;
}

} // namespace storage

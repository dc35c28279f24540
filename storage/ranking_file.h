// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/ranking.h"
#include "storage/ranking_place.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>

// The ranking file tavon.rnk: flat 12-byte records, no header. Records 1 to 20 hold the
// best-five lists of ranges 0 to 3, record 21 is kept as it is, records 22 to 75 are blank.
namespace storage {

// The library's lists and entries (rules/ranking.h), which the file holds.
using results::BestFiveLists;
using results::NewEntry;

// Beside the ranking file, on a file server only: held by the PC that is saving.
inline const QString rankingLockSuffix = QStringLiteral(".lock");
// Beside the ranking file while a save writes into it: the records as they were before.
inline const QString rankingJournalSuffix = QStringLiteral(".journal");

// The steps of Save and Blank, in order. A test can stop the program at each of them.
enum class WriteStep {
    Starting,       // nothing done yet
    WaitingForLock, // another copy holds the lock; waiting for it
    Locked,         // the lock is held
    Reread,         // the file as it is now has been read
    Journaled,      // the records about to be overwritten are safe in the journal
    Written,        // one more record has gone into the file
    Finished,       // the journal is gone and the lock released
};

// Where the ranking file is (ranking_place.h) and how saves wait for each other. The program
// uses the defaults; tests point the places into a temporary directory.
struct RankingOptions : RankingPlace {
    // The longest Save and Blank wait for the copies ahead of them (save_lock.h tells how they
    // wait): far beyond what forty saves at once take on a slow server, so that a save fails
    // only when the copy ahead of it has stopped making progress.
    std::chrono::milliseconds lockWait = std::chrono::minutes(2);
    // On a file server: how long a lock's holder may show no sign of life before the lock is
    // taken over (save_lock.h).
    std::chrono::milliseconds staleLock = std::chrono::seconds(3);
    // Called at every step of every Save and Blank; empty for none.
    std::function<void(WriteStep)> writeHook;
};

// What became of a Save or a Blank: saved, or the reason why not. True only when saved, so
// that `if (!file.save(entry))` reads as a plain success would. Whatever the reason, the file
// holds its old lists (after TakenOver, the lists as the PC that took over left them), or,
// where even putting them back failed, the journal that the next save rolls back from.
class SaveResult {
public:
    enum Reason {
        Saved,
        NotWritable, // this player may not write the file, or no file could be opened: nothing tried
        Busy,        // another copy kept the lock for all of options.lockWait
        NoLock,      // no lock can be had here: the folder takes no lock file, the server stopped
                     // answering, or the file system refuses byte-range locks (save_lock.h)
        TakenOver,   // another PC took the lock over while this one froze, and the save could not
                     // be done afresh within the wait (or its entry is not in the file the taker left)
        WriteFailed, // reading or writing the file or its journal failed (a full disk, a size
                     // limit, a server gone in the middle), or the file did not read back as written
    };
    constexpr SaveResult(Reason reason) : why(reason) {}
    constexpr Reason reason() const { return why; }
    constexpr explicit operator bool() const { return why == Saved; }
    friend constexpr bool operator==(SaveResult, SaveResult) = default;

private:
    Reason why;
};

// One opening of the ranking file, from Read to Close. Save and Blank lock the file, re-read
// it and write their records into it in place, so that owner, group, mode and links stay as
// the teacher set them, and so that what another running copy saved in the meantime stays.
// Before writing, the records they overwrite go into a journal beside the file: a save cut
// short by a crash is rolled back by the next copy that opens the file (ranking_journal.h).
// Copies on other PCs wait for each other through the save lock (save_lock.h, which also
// says what is guaranteed on which file system).
class RankingFile {
public:
    explicit RankingFile(RankingOptions options = {});
    ~RankingFile() { close(); }
    RankingFile(const RankingFile&) = delete;
    RankingFile& operator=(const RankingFile&) = delete;

    // Read: opens the file, creating it empty when missing, and fills entries 0 to 20 of the
    // lists from records 1 to 21. Records missing at the end of the file read as blank. A
    // file that can be read but not written is shown, and Save then fails (NotWritable);
    // only where the program's directory holds no usable file and can take none is the
    // player's own copy used (ranking_place.h).
    void read(BestFiveLists& lists);

    // Save: puts this opening's new entry into the lists the file holds now and writes
    // records 1 to 75; nothing after record 75 is touched. Saved only when the file, read back
    // after the save, holds the entry. A save whose lock another PC took over while this one
    // froze starts afresh (the taker rolled back what it had written), within the wait.
    SaveResult save(const NewEntry& entry);

    // Blank: writes records 1 to 21 as blank records (ten spaces, score 0); the rest is kept.
    SaveResult blank();

    // Close: releases the file. Writes nothing.
    void close();

    bool isOpen() const { return fd >= 0; }
    // The file that was read, and that Save and Blank write.
    QString path() const { return filePath; }
    // Whether Save and Blank can write it.
    bool isWritable() const { return writable; }
    const RankingOptions& options() const { return opts; }

private:
    // Writes build(head) over the file's first bytes under the lock; landed tells, from the
    // head before and the file now, whether a save whose lock went after all its records
    // were written is in the file.
    SaveResult rewrite(qsizetype keepFromFile, const std::function<QByteArray(QByteArrayView head)>& build,
                       const std::function<bool(QByteArrayView before, QByteArrayView now)>& landed);

    RankingOptions opts;
    QString filePath;
    int fd = -1;
    bool writable = false;
};

} // namespace storage

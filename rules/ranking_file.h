#pragma once

#include "rules/ranking.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>

// The ranking file tavon.rnk: flat 12-byte records, no header. Records 1 to 20 hold the
// best-five lists of ranges 0 to 3, record 21 is kept as it is, records 22 to 75 are blank.
namespace results {

inline const QString rankingFileName = QStringLiteral("tavon.rnk");
// Beside the ranking file; held by one running copy of the program while it re-reads and
// replaces the file, so that two copies saving at once both keep their entries.
inline const QString rankingLockSuffix = QStringLiteral(".lock");

// The steps of Save and Blank, in order. A test can stop the program at each of them.
enum class WriteStep {
    Starting,        // nothing done yet
    WaitingForLock,  // another copy holds the lock; waiting for it
    Locked,          // the lock is held (or none can be made here)
    Reread,          // the file as it is now has been read
    Opened,          // the replacement has been created, nothing written into it yet
    Written,         // one more record (or chunk of the bytes after them) has gone to the system
    Replaced,        // the new file stands in place of the old one
    Finished,        // the lock is released
};
// Where the file lives and how saves meet other running copies. The defaults are the
// program's; tests give their own places, times and a hook.
struct RankingOptions {
    // Normally the directory of the program's executable (empty: that directory). When it
    // does not let the program create or write the file, the fallback directory is used
    // (empty: the player's own data directory).
    QString programDirectory;
    QString fallbackDirectory;
    // How long Save and Blank wait for another copy's lock before they give up, and the age
    // after which a lock whose holder cannot be asked (another PC on a shared folder) counts
    // as left behind. A lock whose holder on this PC has died is taken over at once.
    std::chrono::milliseconds lockWait = std::chrono::seconds(6);
    std::chrono::milliseconds staleLock = std::chrono::seconds(5);
    // Called at every step of every Save and Blank (and of the copy that starts a fallback
    // file in Read); empty for none. A test can stop the program at each step.
    std::function<void(WriteStep)> writeHook;
};

// One opening of the ranking file, from Read to Close. Save and Blank take the lock beside
// the file, re-read the file and replace it whole, so that a crash leaves the old file or the
// new one, never a mix, and so that what another running copy saved in the meantime stays.
// (Only a writable file in a directory that takes no new file is overwritten in place.)
class RankingFile {
public:
    explicit RankingFile(RankingOptions options = {});
    RankingFile(const RankingFile&) = delete;
    RankingFile& operator=(const RankingFile&) = delete;

    // Read: opens the file, creating it empty when missing, and fills entries 0 to 20 of the
    // lists from records 1 to 21. Records missing at the end of the file read as blank. Where
    // the file is no plain file (a directory, a pipe) or cannot be written, the player's own
    // copy is used; where none can be made, the lists show what can be read, or blanks.
    void read(BestFiveLists& lists);

    // Save: puts this opening's new entry into the lists the file holds now and writes
    // records 1 to 75; anything after record 75 is kept. Returns false when the file could
    // not be written (or another copy kept the lock past the wait); the file is then left as
    // it was, except that a file overwritten in place keeps the records written before.
    bool save(const NewEntry& entry);

    // Blank: writes records 1 to 21 as blank records (ten spaces, score 0); the rest is kept.
    // Returns false when the file could not be written.
    bool blank();

    // Close: releases the file. Writes nothing.
    void close();

    bool isOpen() const { return file.isOpen(); }
    // The file that was read, and that Save and Blank write.
    QString path() const { return file.fileName(); }
    // Whether Save and Blank can write it.
    bool isWritable() const { return writable; }

private:
    bool openFor(const QString& path, QIODevice::OpenMode mode);
    // Under the lock: re-reads the file, builds the new leading records from its first 75
    // records (head) and replaces the file with them, followed by the rest of the file.
    bool rewrite(const std::function<QByteArray(QByteArrayView head)>& build);

    RankingOptions options;
    QFile file;
    bool writable = false;
};

} // namespace results

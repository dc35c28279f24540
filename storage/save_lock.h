// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/lock_file.h"
#include "storage/lock_wait.h"
#include "storage/range_lock.h"
#include "storage/ranking_file.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The save lock: one copy of the program at a time writes the ranking file, whichever PC it
// runs on and whoever is logged in. This is its manual, and the one place that states its
// protocol: range_lock.h and lock_file.h, the two locks it chooses between, and
// docs/shared-folders.md (how a teacher sets a folder up, and what was measured) point here.
//
// Calling sequence (RankingFile::save and ::blank do this; nothing else writes the file):
//
//     SaveLock lock(fd, rankingPath, options);       // fd: on a local disk, the ranking file
//                                                    // opened for the save; on a server -1
//     switch (lock.acquire(deadline))                // deadline: now + options.lockWait
//         Held       -> go on
//         TimedOut   -> the save fails: SaveResult::Busy
//         Impossible -> the save fails: SaveResult::NoLock
//     on a server: open the ranking file for the save now, and only now
//     ... re-read the file, roll back a journal left by a save cut short, write this one's ...
//     for each record:  if (!lock.mayWrite()) -> stop writing: the lock was taken over
//                       write the record
//     if (!lock.mayWrite()) -> as above; else read the file back and compare
//     ~SaveLock                                       // releases; the next copy goes on
//
// A save whose lock was taken over judges itself by the evidence the taker used: its journal
// against the file as this save had left it (the records it wrote, and the old ones after
// them). Where that reads as complete (every byte the save changes written: the taker kept
// it), the save never writes again, and counts as saved when its entry is in the file as the
// taker left it, TakenOver otherwise. Otherwise (the taker rolled back what it wrote) it
// starts afresh under a new lock while the wait lasts, and fails with SaveResult::TakenOver
// when the wait is over. Read takes the lock only to roll
// back a journal, with no wait at all, and goes on without it when another copy holds it.
//
// Opening for a save (ranking_place.h: openForSaving). The file is opened through its folder's
// descriptor without following a symbolic link, and written only when it is a plain file
// with one link that its owner could write: a link or a second name put in its place by a
// pupil never leads a save into another file. On a server it is opened only once the lock is
// held, and what this PC cached of it is dropped, so that the re-read asks the server: an
// opening from before the lock, or a client cache, would answer with bytes from before another
// PC's save. Every look at the lock file and the journal drops the cache too
// (fileio::dropCached): a client cache that kept an old beat would make a live holder look dead.
//
// Errors. Any other step that the system refuses ends the save: opening the file for
// writing (SaveResult::NotWritable), re-reading it, rolling back a journal, writing the
// journal or a record, pushing them to the disk, or a file that does not read back as written
// (SaveResult::WriteFailed). The old records then go back at once where the file still takes
// them; what a crash or a lost server leaves is rolled back from the journal by the next save.
// The results window shows one message for every failure; the reasons are for the tests.
//
// Which lock. On a disk of this machine (ext4, xfs, btrfs, tmpfs, ...: fileio::onLocalDisk)
// the lock is RangeLock, a write lock over the whole ranking file on its open file
// description (F_OFD_SETLK). The kernel holds it for every program and account on the machine
// and drops it with the holder's descriptor, so a copy that crashed or was killed never keeps
// the others out, and no other copy can write while it is held: mayWrite() is always true. The
// lock is the descriptor's, not the process's: closing another descriptor of the same file (as
// Qt or the journal may) does not drop it, and a second RangeLock on another descriptor of the
// same process waits like any other copy.
//
// Anywhere else (sshfs, NFS, SMB) byte-range locks are not trusted: sshfs keeps them on the
// client, and NFS and SMB servers hold a dead PC's lock for a minute or more. The lock is then
// LockFile, the file "tavon.rnk.lock", created exclusively (O_CREAT | O_EXCL: the server
// decides for every PC at once). It holds "nubora1 lock <host> <pid> <id> beat <n>\n": <id>,
// 16 random hexadecimal digits, names the holder, and <n> counts its beats. The holder's heart,
// a thread of its own, rewrites the file every quarter of options.staleLock, also while the
// save itself is stuck in a slow write. The program never uses the byte-range locks that NFS
// and SMB servers keep, since they outlive a dead PC; the lock file serves on every file
// server alike.
//
// Waiting. A copy that finds the lock taken tries again, a little less often the longer it
// waits (Backoff, lock_wait.h), and reports WriteStep::WaitingForLock once, before its first
// pause. A LockFile is read at every try. The copy waits:
//   - as long as the holders ahead of it are alive, each beating: however many PCs are ahead
//     and however slow the server, up to options.lockWait, a bound far beyond what forty
//     saves at once take (docs/shared-folders.md has the measurements);
//   - for a holder whose lock file stays unchanged for options.staleLock on the waiting PC's
//     own clock (a PC that died, froze or lost its network): that lock is taken over, so the
//     PCs' clocks need not agree. Only one waiting PC takes over at a time: it creates
//     "tavon.rnk.lock.takeover" exclusively, checks that the lock still holds what it saw, and
//     retires it (below); the taker then rolls back the journal of the save cut short, if that
//     save had not written all its records. A takeover guard left by a PC that died while
//     taking over goes once it has stood unchanged for twice options.staleLock;
//   - not at all where the lock cannot be had (Impossible): the folder refused three creates
//     running that were not refused for the file being there (it takes no new file, or the
//     server stopped answering: a client that gave up refuses every call), the takeover was
//     refused three times, or the first beat could not be written; or, on a local disk, the
//     file system refuses byte-range locks (ENOLCK, EINVAL, ...). An sshfs server answers an
//     exclusive create of a file that exists with EPERM; a lock that vanished between a
//     refused create and the look at it is no refusal.
// acquire returns Held once the lock is this copy's (a lock file made and its first beat
// pushed to the server), TimedOut when the deadline came while live holders kept the lock. On
// a local disk there is no beat to read: the wait ends when the holder lets go or at
// options.lockWait (a holder stopped by a debugger, say).
//
// What a holder whose lock was taken over does. A holder that froze (a laptop lid closed, a
// stalled link, SIGSTOP) may resume after another PC took its lock over and saved. Before each
// record it writes, before a roll-back and before it counts the save as done, mayWrite()
// checks that the lock file still names this holder and that its last beat reached the file
// less than half the stale time ago, both as of the moment it returns (waiting up to twice the
// stale time for a late beat, and looking again when it froze while it looked). A waiting PC
// takes over only after the stale time without a change, so a record whose write reaches the
// server within half the stale time of that check lands before any take-over. When mayWrite()
// is false the holder writes nothing more, not even the old records back, and goes on as
// above. Letting go stops the heart and retires the lock file if it still names this holder.
//
// What is guaranteed where, on a local disk | on a file server (NFS, SMB, and sshfs):
//   one save at a time    the kernel's range lock | the lock file, created exclusively
//   a dead PC's lock      ends with its process | taken over after staleLock without a beat
//   a save cut short      rolled back from its journal by the next holder, on both
//   a frozen holder that  cannot happen: nobody else writes while it holds the lock |
//   resumes               writes no further record once its lock is stale or gone, then
//                         saves afresh or finds its entry kept
//   "saved"               only when the file reads back as written | the same, or when its
//                         entry is in the file as the taker left it
//
// What remains on a file system without server-side locks (sshfs, or NFS and SMB, which are
// used the same way): a record write that is held up on its way to the server for more than
// half the stale time after the check, or a holder frozen in the few instructions between the
// check's last reading of the clock and the write's system call, can still land over the
// taker's save. Nothing a client does can close that window without the server's help; it is
// one record's write wide.
//
// Left-behind files: lock files and journals are closed, then retired under names
// "tavon.rnk.*.gone" (for clients that refuse to rename an open file) that the next holder
// removes (fileio::retire, fileio::sweepRetired): an sshfs client keeps a file removed just
// after it was closed under a hidden name for good. The folder on a server must
// let pupils create, rename and remove files in it, so it must not be sticky.
namespace storage {

// Whichever of the two locks the ranking file's file system calls for.
class SaveLock {
public:
    // rankingFd: on a disk of this machine (fileio::onLocalDisk of the folder), the ranking
    // file, open for writing as long as the lock, which is taken on it; -1 on a file server,
    // where the lock file is used. options: as the ranking file's opening has them, and
    // outliving the lock.
    SaveLock(int rankingFd, const QString& rankingPath, const RankingOptions& options);
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;

    // Takes the lock, waiting as above until deadline at the most. On a server, the holder
    // then removes the files that earlier holders retired.
    LockResult acquire(SaveClock::time_point deadline);
    // Whether this holder may write the next record (always, on a local disk).
    bool mayWrite() const { return !file || file->mayWrite(); }
    bool onServer() const { return file.has_value(); }
    // The holder's id on a server (names what it retires); empty on a local disk.
    QByteArray id() const { return file ? file->ownId() : QByteArray(); }

private:
    QString rankingPath;
    const RankingOptions& options;
    std::optional<RangeLock> range;
    std::optional<LockFile> file;
};

} // namespace storage

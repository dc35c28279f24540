// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/file_io.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

#include <sys/stat.h>

// The journal "tavon.rnk.journal": while a save writes its records into the ranking file, the
// records as they stood before, beside the file, so that a save cut short (a crash, a PC that
// froze and lost its lock) is rolled back by the next copy that holds the lock.
//
// What it holds: "nubora1 journal\n", then the file's size before the save, the records the
// save overwrites (oldHead, shorter where the file was) and the records it writes (newHead),
// and a checksum of all that. Against the file as it is, a journal tells (stateOf):
//   NotWritten   every byte as before the save: nothing to do;
//   HalfWritten  every byte as before or as the save writes it, some of each: rolled back;
//   Completed    every byte as the save writes it: the save ran through and is kept;
//   Unrelated    anything else: the file was written since; never applied.
//
// Whose journal is applied. A journal is the program's own file or nothing. It is opened
// without following links and read through that one descriptor, and trusted only when it is
// a plain file with one link, is not the ranking file itself (device and inode), and belongs
// to an account that could have written the ranking file itself (root, the file's owner with
// the owner's write bit, a member of the file's group with the group's, or anyone where
// others may write). A journal that is not trusted is refused and left alone: never applied,
// written, truncated or removed. So is one whose account this machine's user database does
// not know, or whose write permission comes from an ACL alone. A trusted journal is applied
// only when it decodes with its checksum and is HalfWritten against the file; otherwise
// (cut short while it was written, NotWritten, Completed, Unrelated) it only goes. Journals
// are removed through their name only while the name still leads to the file that was read,
// and only once closed; in a sticky folder, where only its maker may remove it, a trusted
// journal that could be opened for writing is emptied instead (opened again without following
// a link, and only when it is still the file that was read).
//
// Writing. A save makes its journal new (O_CREAT | O_EXCL, never opening a file that is
// there), with the ranking file's permission bits, pushes it and its name to the disk, and
// only then writes the file. Where a journal cannot be made (a refused one is in the way, or
// the folder takes no new file), the save writes its records in one write, which a crash of
// the program cannot cut in two.
namespace storage::journal {

struct Journal {
    qint64 oldSize = 0;
    QByteArray oldHead;
    QByteArray newHead;
};

enum class State { NotWritten, HalfWritten, Completed, Unrelated };

QByteArray encode(const Journal& j);
// Nothing for bytes that are no whole journal (one cut short while it was written).
std::optional<Journal> decode(QByteArrayView bytes);

// What the journal's save left in the file, whose first bytes (as many as newHead) are head.
State stateOf(const Journal& j, QByteArrayView head);

// Whether the account uid could write a file with these attributes, by its permission bits.
bool couldWrite(uid_t uid, const struct stat& file);

// A journal found beside the ranking file: its descriptor, and what it holds when trusted.
struct Found {
    fileio::Descriptor fd;
    bool writable = false;          // opened for writing (so that it can be emptied)
    bool trusted = false;           // the program's own file, as far as its attributes tell
    std::optional<Journal> journal; // what a trusted journal holds; nothing when it is refused,
                                    // none is there, or it was cut short while it was written
};

// Opens and judges the journal at path for the ranking file open at rankingFd; what this
// machine held of its bytes is dropped first (fileio::dropCached).
Found find(const QString& path, int rankingFd);

// The journal at path goes, if the name still leads to the file open at fd: fd is closed, and
// the file removed (on a server, retired under id) or, where that is refused and fd was open
// for writing, opened again and emptied. Closed first, since some file servers' clients refuse
// to rename or remove a file that is open.
void discard(const QString& path, fileio::Descriptor& fd, bool writable, bool onServer, const QByteArray& id);

// Under the lock: a save cut short left its journal; the records it overwrote go back, and
// the journal goes. A trusted journal that is cut short itself (its save never touched the
// file), complete, or unrelated to the file goes without being applied. False when a
// roll-back was needed and failed, or when mayWrite (asked just before the roll-back's write)
// says that the lock was taken over.
bool recover(int rankingFd, const QString& path, bool onServer, const QByteArray& id,
             const std::function<bool()>& mayWrite = {});

// The lists as the file stood before a save that is under way or was cut short: head with
// the trusted journal's old records put back, when the journal's save is not complete.
QByteArray before(QByteArrayView head, const QString& path, int rankingFd);

// Makes this save's own journal and pushes it to the disk. NotPossible (no error) when no new
// journal can be made; Failed when one was made but the write failed (it is then discarded).
enum class Made { Yes, NotPossible, Failed };
Made write(const QString& path, const Journal& j, mode_t mode, fileio::Descriptor& out, bool onServer,
           const QByteArray& id);

} // namespace storage::journal

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/file_io.h"

#include <QString>

// Where tavon.rnk is kept, and how an opening finds and opens it.
//
// The file is kept beside the program: in the directory of its executable, so that a copy of
// the program in a class folder keeps the class's list. Only where that directory holds no
// usable file and can take none (a read-only folder, a directory, a pipe or a link into
// nowhere in the file's place) does the player's own data directory keep the player's lists.
// A file that is there but that the player may not write (or not even read) is no reason to
// go elsewhere: it is shown as far as it can be read, and its saves fail, so that entries
// never go silently into a private file while the class list exists. The installed program
// (app/main.cpp) puts programDirectory in the player's data directory itself.
//
// Only a plain file is opened: a pipe or a device would block the program or feed it without
// end. A file that is missing is created with the folder's sharing: writable by the group or
// by everyone where the folder is; never through a symbolic link (a link to a file not yet
// made is no usable file).
//
// Viewing reads the file wherever its name leads. A save writes it only when a pupil cannot
// have put it in the way (openForSaving): in a class folder that every pupil may write, one
// could replace tavon.rnk by a link to the teacher's private file, or a hard link to it, and
// the teacher's next save would write into that file.
namespace storage {

inline const QString rankingFileName = QStringLiteral("tavon.rnk");

// The two places. The program uses the defaults; tests point them into a temporary directory.
struct RankingPlace {
    // The directory of the program's executable when empty.
    QString programDirectory;
    // Used only when the program's directory holds no ranking file and cannot take one; the
    // player's own data directory when empty.
    QString fallbackDirectory;
};

// The player's own data directory for the program, where the fallback file goes: Qt's
// application data location, under ~/.local/share where XDG_DATA_HOME is not an absolute path.
QString playerDataDirectory();

// How a ranking file could be opened. ReadOnly and Denied: the file is there, but this player
// may not write it (or not even read it). Unusable: no plain file is there, and none can be made.
enum class Opened { ReadWrite, ReadOnly, Denied, Unusable };

// Opens the ranking file at path for reading and writing, creating it when missing, or for
// reading only where writing is refused. out holds the descriptor (closed on exec, blocking)
// unless the result is Denied or Unusable.
Opened openRanking(const QString& path, fileio::Descriptor& out);

// Opens the ranking file name in the folder open at folderFd (which may be an O_PATH
// descriptor) for a save: through the folder's descriptor, without following a symbolic link,
// creating the file when missing. ReadWrite only when it is a plain file with one link that
// its owner could write (journal::couldWrite); Denied for anything else (a link, a file with
// a second name, a file its owner may not write), and Unusable when none can be opened. out
// holds the descriptor (closed on exec, blocking) only for ReadWrite, with what this machine
// held of the file's bytes dropped (fileio::dropCached).
Opened openForSaving(int folderFd, const QString& name, fileio::Descriptor& out);

// The file an opening uses, chosen between the two places and opened.
struct PlacedFile {
    QString path; // the file opened; the program's when none could be
    Opened kind = Opened::Unusable;
    fileio::Descriptor fd;
};
PlacedFile openPlaced(const RankingPlace& place);

} // namespace storage

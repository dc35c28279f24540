// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/ranking_file.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// The places of a program run, inside a fresh temporary directory that is removed afterwards:
// programDir stands for the directory of the program's executable, where tavon.rnk is kept,
// and fallbackDir for the player's own data directory. Tests may point either elsewhere.
class ProgramDir {
    QTemporaryDir temp; // first, so that it exists before the places inside it are named

public:
    ProgramDir();

    bool isValid() const { return temp.isValid(); }
    // A path inside the temporary directory (the directory itself for an empty name).
    QString path(const QString& name = {}) const { return name.isEmpty() ? temp.path() : temp.filePath(name); }

    QString programFile() const { return programDir + QStringLiteral("/tavon.rnk"); }
    QString fallbackFile() const { return fallbackDir + QStringLiteral("/tavon.rnk"); }

    // The ranking file's options for these places, with the program's lock times.
    storage::RankingOptions options() const;

    QString programDir;
    QString fallbackDir;
};

// The storage tests' fixture: a fresh ProgramDir, `dir`, for each test function and each row
// of its data. A test that prepares more calls ProgramDirTest::init() first in its own init().
class ProgramDirTest : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<ProgramDir> dir;
    // The lock file beside the program folder's tavon.rnk (copies on other PCs take it).
    QString lockPath() const { return dir->programFile() + QStringLiteral(".lock"); }

protected slots:
    void init();
};

// One opening of the ranking file, as the results window makes it, read at once:
// `auto&& [lists, file] = Opening(options);`
struct Opening {
    explicit Opening(const storage::RankingOptions& options) : file(options) { file.read(lists); }
    results::BestFiveLists lists;
    storage::RankingFile file;
};

namespace storage {

// The reason of a save by its name, for QCOMPARE's message.
inline char* toString(SaveResult::Reason reason)
{
    const char* const names[] = {"Saved", "NotWritable", "Busy", "NoLock", "TakenOver", "WriteFailed"};
    return qstrdup(std::size_t(reason) < std::size(names) ? names[reason] : "?");
}

} // namespace storage

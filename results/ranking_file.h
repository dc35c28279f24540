#pragma once

#include "results/ranking.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <functional>

// The ranking file tavon.rnk: flat 12-byte records, no header. Records 1 to 20 hold the
// best-five lists of ranges 0 to 3, record 21 is kept as it is, records 22 to 75 are blank.
namespace results {

inline const QString rankingFileName = QStringLiteral("tavon.rnk");

// Where the file is looked for: normally the directory of the program's executable, and,
// when that directory does not let the program create or write the file, the player's own
// data directory. An empty string puts a default back. Tests point both into a temporary
// directory.
void setRankingDirectories(const QString& programDirectory, const QString& fallbackDirectory);
QString rankingProgramDirectory();
QString rankingFallbackDirectory();

// One opening of the ranking file, from Read to Close. The file stays open in between; Save
// and Blank re-read it and replace it whole, so that a crash leaves the old file or the new
// one, never a mix.
class RankingFile {
public:
    RankingFile() = default;
    RankingFile(const RankingFile&) = delete;
    RankingFile& operator=(const RankingFile&) = delete;

    // Read: opens the file, creating it empty when missing, and fills entries 0 to 20 of the
    // lists from records 1 to 21. Records missing at the end of the file read as blank.
    // Without a usable file the entries read as blank.
    void read(BestFiveLists& lists);

    // Save: writes records 1 to 75 from the lists; anything after record 75 is kept.
    // Returns false when the file could not be written; it is then left as it was.
    bool save(const BestFiveLists& lists);

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
    // Re-reads the whole file, builds the new contents from it and replaces the file.
    bool rewrite(const std::function<QByteArray(const QByteArray& current)>& build);

    QFile file;
    bool writable = false;
};

} // namespace results

#include "results/ranking_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace results {

namespace {

QString programDirectoryOverride;
QString fallbackDirectoryOverride;

Module1::seiseki blankRecord()
{
    return {QByteArray(nameBytes, ' '), 0};
}

// Replaces the file at path with contents: written complete beside it, flushed, then renamed
// over it. Only where the directory refuses a new file is the file itself overwritten.
bool writeWhole(const QString& path, const QByteArray& contents)
{
    QSaveFile out(path);
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // commit() may report success after a failed buffered write; check before it.
    if (out.write(contents) != contents.size() || !out.flush() || out.error() != QFileDevice::NoError) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

// The fallback file starts as a copy of the program's own file, when there is one to read,
// so that the lists seen so far are kept.
void startFallbackFrom(const QString& programFile, const QString& fallbackFile)
{
    if (QFileInfo::exists(fallbackFile))
        return;
    QFile source(programFile);
    if (!source.open(QIODevice::ReadOnly))
        return;
    const QByteArray contents = source.readAll();
    if (source.error() == QFileDevice::NoError)
        writeWhole(fallbackFile, contents);
}

} // namespace

void setRankingDirectories(const QString& programDirectory, const QString& fallbackDirectory)
{
    programDirectoryOverride = programDirectory;
    fallbackDirectoryOverride = fallbackDirectory;
}

QString rankingProgramDirectory()
{
    return programDirectoryOverride.isEmpty() ? QCoreApplication::applicationDirPath() : programDirectoryOverride;
}

QString rankingFallbackDirectory()
{
    return fallbackDirectoryOverride.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                                               : fallbackDirectoryOverride;
}

bool RankingFile::openFor(const QString& path, QIODevice::OpenMode mode)
{
    file.setFileName(path);
    return file.open(mode);
}

void RankingFile::read(BestFiveLists& lists)
{
    close();
    const QString programFile = QDir(rankingProgramDirectory()).filePath(rankingFileName);
    writable = openFor(programFile, QIODevice::ReadWrite);
    if (!writable) {
        const QString directory = rankingFallbackDirectory();
        if (!directory.isEmpty() && QDir().mkpath(directory)) {
            const QString fallbackFile = QDir(directory).filePath(rankingFileName);
            startFallbackFrom(programFile, fallbackFile);
            writable = openFor(fallbackFile, QIODevice::ReadWrite);
        }
    }
    if (!writable)
        openFor(programFile, QIODevice::ReadOnly); // the lists can still be shown

    QByteArray records;
    if (file.isOpen())
        records = file.read(qint64(readCount) * recordBytes);
    for (int i = 0; i < readCount; ++i) {
        const QByteArrayView bytes = QByteArrayView(records).sliced(qMin<qsizetype>(records.size(), i * recordBytes));
        Module1::seisekibuf = bytes.size() >= recordBytes ? unpackRecord(bytes.first(recordBytes)) : blankRecord();
        lists.seisekijikan[i] = Module1::seisekibuf.kiroku;
        lists.stored[i] = Module1::seisekibuf.simei;
        lists.seisekinamae[i] = decodeName(Module1::seisekibuf.simei);
    }
}

bool RankingFile::save(const BestFiveLists& lists)
{
    return rewrite([&lists](const QByteArray& current) {
        QByteArray contents;
        contents.reserve(qMax<qsizetype>(current.size(), entryCount * recordBytes));
        for (int i = 0; i < entryCount; ++i) {
            Module1::seisekibuf.simei = lists.nameField(i);
            Module1::seisekibuf.kiroku = lists.seisekijikan[i];
            contents += packRecord(Module1::seisekibuf);
        }
        contents += current.sliced(qMin<qsizetype>(current.size(), contents.size()));
        return contents;
    });
}

bool RankingFile::blank()
{
    return rewrite([](const QByteArray& current) {
        QByteArray contents;
        for (int i = 0; i < readCount; ++i) {
            Module1::seisekibuf = blankRecord();
            contents += packRecord(Module1::seisekibuf);
        }
        contents += current.sliced(qMin<qsizetype>(current.size(), contents.size()));
        return contents;
    });
}

void RankingFile::close()
{
    file.close();
}

bool RankingFile::rewrite(const std::function<QByteArray(const QByteArray& current)>& build)
{
    if (!writable)
        return false;
    // The file as it is now, for the records this program leaves alone.
    QByteArray current;
    if (file.isOpen()) {
        file.unsetError();
        if (!file.seek(0))
            return false;
        current = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return false;
        // Released before the replacement, which some systems refuse over an open file.
        file.close();
    } else if (QFileInfo::exists(file.fileName())) {
        QFile again(file.fileName());
        if (!again.open(QIODevice::ReadOnly))
            return false;
        current = again.readAll();
        if (again.error() != QFileDevice::NoError)
            return false;
    }
    return writeWhole(file.fileName(), build(current));
}

} // namespace results

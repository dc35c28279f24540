// SPDX-License-Identifier: GPL-3.0-or-later
// The ranking file in unusual places: a directory, links that lead nowhere, a pipe, read-only
// files and directories, a lock path taken by something else. Each opening runs in a child
// process as an ordinary user (a test run by root drops to "nobody"), so that permissions
// bind as they bind a pupil's account; the child reports what it saw and whether it saved.
#include "support/child_process.h"
#include "support/text.h"
#include "support/ranking_bytes.h"
#include "storage/ranking_file.h"
#include "support/program_dir.h"

#include <QDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

using namespace rankingbytes;
using namespace std::chrono_literals;

namespace {

enum class Place {
    Directory,                // tavon.rnk is a directory
    LinkIntoDirectory,        // a link to a file not yet there, in an existing directory
    LinkIntoMissingDirectory, // a link to a file in a directory that does not exist
    LinkLoop,                 // a link to itself
    Pipe,                     // a named pipe
    ReadOnlyFile,             // the file is read-only, the directory writable
    UnreadableFile,           // the file may be neither read nor written
    ReadOnlyDirectory,        // no file, and the directory takes no new one
    WritableFileInReadOnlyDirectory,
    ReadOnlyFileInReadOnlyDirectory,
    LockPathTaken, // a directory stands where the lock goes
};

const QByteArray shared = record("Shared", 44) + record("Two", 30) + blankRecords(73);
// Every opening saves "Mine" with 40 in range 0.
const results::NewEntry mine{0, 40, u"Mine"};
const QByteArray sharedWithMine = record("Shared", 44) + record("Mine", 40) + record("Two", 30) + blankRecords(72);
const QByteArray mineAlone = record("Mine", 40) + blankRecords(74);

bool setMode(const QString& path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

} // namespace

class RankingPlacesTest : public ProgramDirTest {
    Q_OBJECT

private:
    QString linkTarget() const { return dir->programDir + QStringLiteral("/real.rnk"); }
    bool prepare(Place place);

private slots:
    void init();
    void cleanup();

    // Guards against a crash or a hang on a ranking file that is no plain writable file,
    // lists that hide what could be read, a failed save reported as done, a save lost where
    // the player's own directory could take it, and files changed that should stay.
    void unusualPlaceShowsWhatCanBeReadAndSavesWhereItCan_data();
    void unusualPlaceShowsWhatCanBeReadAndSavesWhereItCan();
};

void RankingPlacesTest::init()
{
    ProgramDirTest::init();
    // The ordinary user must reach every directory of the test.
    QVERIFY(setMode(dir->path(), 0777));
    QVERIFY(setMode(dir->programDir, 0777));
    ChildProcess probe(
        [this](const ChildProcess::Channel&) { return writeFile(dir->programDir + "/probe", "x") ? 0 : 1; },
        /*asOtherUser=*/true);
    QVERIFY2(
        ChildProcess::exitedWith(probe.finish(10s), 0),
        qPrintable(QStringLiteral("an ordinary user cannot write in %1 (is TMPDIR private?)").arg(dir->programDir)));
    QVERIFY(QFile::remove(dir->programDir + QStringLiteral("/probe")));
}

void RankingPlacesTest::cleanup()
{
    setMode(dir->programDir, 0777); // so that the temporary directory can be removed
    setMode(dir->programFile(), 0666);
}

bool RankingPlacesTest::prepare(Place place)
{
    auto file = [this](mode_t mode) {
        return writeFile(dir->programFile(), shared) && setMode(dir->programFile(), mode);
    };
    switch (place) {
    case Place::Directory: return QDir().mkpath(dir->programFile());
    case Place::LinkIntoDirectory: return QFile::link(linkTarget(), dir->programFile());
    case Place::LinkIntoMissingDirectory:
        return QFile::link(dir->path(QStringLiteral("gone/real.rnk")), dir->programFile());
    case Place::LinkLoop: return QFile::link(dir->programFile(), dir->programFile());
    case Place::Pipe: return ::mkfifo(QFile::encodeName(dir->programFile()).constData(), 0666) == 0;
    case Place::ReadOnlyFile: return file(0444);
    case Place::UnreadableFile: return file(0000);
    case Place::ReadOnlyDirectory: return setMode(dir->programDir, 0555);
    case Place::WritableFileInReadOnlyDirectory: return file(0666) && setMode(dir->programDir, 0555);
    case Place::ReadOnlyFileInReadOnlyDirectory: return file(0444) && setMode(dir->programDir, 0555);
    case Place::LockPathTaken: return file(0666) && QDir().mkpath(dir->programFile() + QStringLiteral(".lock"));
    }
    return false;
}

void RankingPlacesTest::unusualPlaceShowsWhatCanBeReadAndSavesWhereItCan_data()
{
    QTest::addColumn<Place>("place");
    QTest::addColumn<bool>("fallback");     // the player's own directory can be made
    QTest::addColumn<QString>("where");     // the file the opening uses and saves in: program, fallback, none
    QTest::addColumn<QStringList>("shown"); // names of range 0, places 1 and 2

    const QStringList blank{QString(), QString()};
    const QStringList fromFile{QStringLiteral("Shared"), QStringLiteral("Two")};
    auto row = [](const char* name) { return &QTest::newRow(name); };

    *row("directory") << Place::Directory << true << "fallback" << blank;
    *row("directory, no own directory") << Place::Directory << false << "none" << blank;
    // A link left by a pupil never makes a save create the file it points to.
    *row("link to a file not yet made") << Place::LinkIntoDirectory << true << "fallback" << blank;
    *row("link into a missing directory") << Place::LinkIntoMissingDirectory << true << "fallback" << blank;
    *row("link into a missing directory, no own directory")
        << Place::LinkIntoMissingDirectory << false << "none" << blank;
    *row("link to itself") << Place::LinkLoop << true << "fallback" << blank;
    *row("named pipe") << Place::Pipe << true << "fallback" << blank;
    *row("named pipe, no own directory") << Place::Pipe << false << "none" << blank;
    // A shared file that this pupil may not write is shown, and the save fails: entries never
    // go silently into a private file while the class list exists.
    *row("read-only file") << Place::ReadOnlyFile << true << "none" << fromFile;
    *row("read-only file, no own directory") << Place::ReadOnlyFile << false << "none" << fromFile;
    *row("unreadable file") << Place::UnreadableFile << true << "none" << blank;
    *row("read-only directory") << Place::ReadOnlyDirectory << true << "fallback" << blank;
    *row("read-only directory, no own directory") << Place::ReadOnlyDirectory << false << "none" << blank;
    *row("writable file in a read-only directory")
        << Place::WritableFileInReadOnlyDirectory << true << "program" << fromFile;
    *row("read-only file in a read-only directory")
        << Place::ReadOnlyFileInReadOnlyDirectory << true << "none" << fromFile;
    *row("read-only file in a read-only directory, no own directory")
        << Place::ReadOnlyFileInReadOnlyDirectory << false << "none" << fromFile;
    *row("a directory where the lock goes") << Place::LockPathTaken << true << "program" << fromFile;
}

void RankingPlacesTest::unusualPlaceShowsWhatCanBeReadAndSavesWhereItCan()
{
    QFETCH(Place, place);
    QFETCH(bool, fallback);
    QFETCH(QString, where);
    QFETCH(QStringList, shown);

    if (!fallback) {
        // The player's own directory would have to be made under a plain file.
        QVERIFY(writeFile(dir->path(QStringLiteral("plain")), "plain"));
        dir->fallbackDir = dir->path(QStringLiteral("plain/own-data"));
    }
    QVERIFY(prepare(place));
    const QStringList before = entries(dir->programDir);

    ChildProcess child(
        [this](const ChildProcess::Channel& channel) {
            auto&& [lists, file] = Opening(dir->options());
            const QString path = file.isWritable() ? file.path() : QString();
            const char* used = path.isEmpty()                ? "none"
                               : path == dir->programFile()  ? "program"
                               : path == dir->fallbackFile() ? "fallback"
                                                             : "other";
            const bool saved = bool(file.save(mine));
            file.close();
            channel.send(
                QStringList{used, qs(lists.seisekinamae[0]), qs(lists.seisekinamae[1]), saved ? "saved" : "failed"}
                    .join(u'\n')
                    .toUtf8());
            return 0;
        },
        /*asOtherUser=*/true);
    QVERIFY(child.started());
    QByteArray report;
    QVERIFY2(child.receiveAll(report, 10s), "the opening hung");
    const int status = child.finish(10s);
    QVERIFY2(ChildProcess::exitedWith(status, 0), qPrintable(QStringLiteral("status %1").arg(status)));

    QCOMPARE(QString::fromUtf8(report).split(u'\n'),
             QStringList{where} + shown + QStringList{where == QStringLiteral("none") ? "failed" : "saved"});

    if (where == QStringLiteral("program"))
        QCOMPARE(readFile(dir->programFile()).toHex(' '), sharedWithMine.toHex(' '));
    if (place == Place::LinkIntoDirectory)
        QVERIFY(!QFileInfo::exists(linkTarget()) && QFileInfo(dir->programFile()).isSymLink());
    if (where == QStringLiteral("fallback"))
        QCOMPARE(readFile(dir->fallbackFile()).toHex(' '), mineAlone.toHex(' '));
    else
        QVERIFY(!QFileInfo::exists(dir->fallbackFile()));
    // A file the save did not go to is as it was; nothing is left beside it but what was there.
    const QFileInfo info(dir->programFile());
    if (where != QStringLiteral("program") && info.isFile() && !info.isSymLink()) {
        QVERIFY(setMode(dir->programFile(), 0644));
        QCOMPARE(readFile(dir->programFile()), shared);
    }
    QStringList after = entries(dir->programDir);
    after.removeAll(QStringLiteral("real.rnk"));
    QCOMPARE(after, before);
}

QTEST_GUILESS_MAIN(RankingPlacesTest)
#include "tst_rankingplaces.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// One ranking file shared by the pupils of a class on one PC, each under an account of their
// own: every copy of the program runs in a child process as its pupil's user (the test runs
// as root and drops to fixed test ids), in the shared folders a teacher sets up.
#include "support/accounts.h"
#include "support/text.h"
#include "support/running_copy.h"
#include "support/ranking_bytes.h"
#include "storage/ranking_file.h"
#include "storage/ranking_journal.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <tuple>

#include <sys/stat.h>

using namespace rankingbytes;
using namespace std::chrono_literals;

namespace {

constexpr gid_t classGroup = 61000;
constexpr uid_t teacher = 61010;
const ChildProcess::User ami{61001, 61001, {classGroup}};
const ChildProcess::User bo{61002, 61002, {classGroup}};
constexpr uid_t outsider = 61003; // a pupil of another class

const QByteArray tail("bytes after record 75\n");
// Range 0 holds three entries; a new one at place 2 moves two of them down.
const QByteArray startingFile = record("Tea", 50) + record("Uma", 30) + record("Vic", 20) + blankRecords(72) + tail;
// The first 900 bytes after Ami's save of 40.
const QByteArray withAmi =
    record("Tea", 50) + record("Ami", 40) + record("Uma", 30) + record("Vic", 20) + blankRecords(71);

enum class Folder {
    Group,           // 0775, group of the class; tavon.rnk 0664 of the class
    Sticky,          // 1777 like /tmp; the teacher's tavon.rnk 0666
    ReadOnly,        // 0555; tavon.rnk 0666
    LockIsDirectory, // as Group, with a directory named tavon.rnk.lock
    LockIsLink,      // as Group, with tavon.rnk.lock a link to nowhere
    StickyOfClass,   // 1777 like /tmp; the teacher's tavon.rnk 0664 of the class
    RankingIsLink,   // as Group, with tavon.rnk a pupil's link to Bo's private notes beside it
};

void setUpFolder(const QString& folder, const QString& file, Folder setUp)
{
    if (setUp == Folder::Sticky)
        QVERIFY(setOwner(folder, 0, 0, 01777) && setOwner(file, teacher, teacher, 0666));
    else if (setUp == Folder::StickyOfClass)
        QVERIFY(setOwner(folder, 0, 0, 01777) && setOwner(file, teacher, classGroup, 0664));
    else if (setUp == Folder::ReadOnly)
        QVERIFY(setOwner(folder, 0, 0, 0555) && setOwner(file, 0, 0, 0666));
    else
        QVERIFY(setOwner(folder, 0, classGroup, 0775) && setOwner(file, 0, classGroup, 0664));
}

// A journal in the program's format whose roll-back would leave the file's first bytes as
// wanted: every byte of the file as it is stands either where the journal's save would write
// it or where it would roll back, so that the file looks like a save cut short.
QByteArray plantedJournal(const QByteArray& file, const QByteArray& wanted)
{
    storage::journal::Journal j{wanted.size(), wanted, file.left(900)};
    for (qsizetype k = 0; k < j.newHead.size(); ++k)
        if (k < wanted.size() && wanted[k] == file[k])
            j.newHead[k] = char(~file[k]);
    return storage::journal::encode(j);
}

// A pupil's copy of the program, as the pupil's user, on the class folder.
ChildProcess pupilCopy(const ChildProcess::User& pupil, const QString& folder, const results::NewEntry& entry)
{
    storage::RankingOptions options;
    options.programDirectory = folder;
    options.fallbackDirectory = folder + QStringLiteral("/../own-") + QString::number(pupil.uid);
    options.lockWait = 5s;
    return ChildProcess([=](const ChildProcess::Channel& c) { return runningCopy(c, entry, options); }, pupil);
}

} // namespace

class RankingPupilsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestAccounts> accounts;
    std::unique_ptr<QTemporaryDir> temp;
    QString folder;
    QString rankingFile() const { return folder + QStringLiteral("/tavon.rnk"); }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Guards against a save that changes the file's owner, group or mode so that the next
    // pupil can no longer write it, a save refused in a sticky folder, a lock or a journal
    // left by another pupil's crashed copy that nobody can take over, two saves that both
    // succeed where no lock file can be made while the second overwrites the first, a
    // pupil moved silently to a private file, and a pupil's link leading a save into another
    // account's file.
    void pupilsShareOneFile_data();
    void pupilsShareOneFile();

    // Guards against a journal that is not the program's own rewriting the class list: one
    // that is a hard link to the file (every save emptied it), or one written by a pupil who
    // may not write the file, applied by the next pupil who merely opens the lists.
    void journalNotOfTheProgramIsLeftAlone_data();
    void journalNotOfTheProgramIsLeftAlone();

    // Guards against a save copying what lies after record 75 (a sparse file of 4 GiB became
    // 4 GB of disk and froze the window).
    void saveLeavesBytesAfterRecord75Alone();
};

void RankingPupilsTest::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root to run copies of the program as separate pupils' accounts");
    accounts = std::make_unique<TestAccounts>(
        QList<TestAccounts::Group>{
            {"nbtclass", classGroup}, {"nbtami", ami.gid}, {"nbtbo", bo.gid}, {"nbtout", outsider}},
        QList<TestAccounts::User>{{"nbtami", ami.uid, ami.gid, "nbtclass"},
                                  {"nbtbo", bo.uid, bo.gid, "nbtclass"},
                                  {"nbtout", outsider, outsider, {}}});
    QVERIFY2(accounts->ok(), "could not make the pupils' accounts (groupadd, useradd)");
}

void RankingPupilsTest::init()
{
    temp = std::make_unique<QTemporaryDir>();
    QVERIFY(temp->isValid());
    QVERIFY(setOwner(temp->path(), 0, 0, 0755));
    folder = temp->filePath(QStringLiteral("class"));
    QVERIFY(QDir().mkpath(folder));
}

void RankingPupilsTest::cleanup()
{
    setOwner(folder, 0, 0, 0777); // so that the temporary directory can be removed
}

void RankingPupilsTest::pupilsShareOneFile_data()
{
    QTest::addColumn<Folder>("setUp");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("after");

    // Ami saves 40 and Bo 45 in range 0 (script steps as in support/running_copy.h).
    const QString together = QStringLiteral("A>o A<O B>o B<O A>p A<M B>s B<W A>c A<S B<S");
    const QByteArray both = record("Tea", 50) + record("Bo", 45) + record("Ami", 40) + record("Uma", 30)
                            + record("Vic", 20) + blankRecords(70) + tail;
    const QByteArray boOnly =
        record("Tea", 50) + record("Bo", 45) + record("Uma", 30) + record("Vic", 20) + blankRecords(71) + tail;
    const QString amiDies = QStringLiteral("A>o A<O B>o B<O A>k A~ B>s B<S");

    QTest::newRow("group folder, saving together") << Folder::Group << together << both;
    QTest::newRow("group folder, one after the other")
        << Folder::Group << QStringLiteral("A>o A<O A>s A<S B>o B<O B>s B<S") << both;
    QTest::newRow("sticky folder, saving together") << Folder::Sticky << together << both;
    QTest::newRow("sticky folder, a copy dies saving") << Folder::Sticky << amiDies << boOnly;
    QTest::newRow("group folder, a copy dies saving") << Folder::Group << amiDies << boOnly;
    QTest::newRow("lock path a link to nowhere") << Folder::LockIsLink << together << both;
    QTest::newRow("lock path a directory") << Folder::LockIsDirectory << together << both;
    QTest::newRow("read-only folder, saving together") << Folder::ReadOnly << together << both;
    QTest::newRow("tavon.rnk a link to Bo's notes: Bo sees them, saves nothing")
        << Folder::RankingIsLink << QStringLiteral("B>o B<O B>s B<F") << startingFile;
}

void RankingPupilsTest::pupilsShareOneFile()
{
    QFETCH(Folder, setUp);
    QFETCH(QString, script);
    QFETCH(QByteArray, after);

    QVERIFY(writeFile(rankingFile(), startingFile));
    if (setUp == Folder::LockIsLink)
        QVERIFY(QFile::link(temp->filePath(QStringLiteral("gone/lock")), rankingFile() + QStringLiteral(".lock")));
    if (setUp == Folder::LockIsDirectory)
        QVERIFY(QDir().mkpath(rankingFile() + QStringLiteral(".lock")));
    const QString notes = folder + QStringLiteral("/notes");
    if (setUp == Folder::RankingIsLink)
        QVERIFY(QFile::rename(rankingFile(), notes) && QFile::link(QStringLiteral("notes"), rankingFile()));
    setUpFolder(folder, rankingFile(), setUp);
    if (setUp == Folder::RankingIsLink)
        QVERIFY(setOwner(notes, bo.uid, bo.gid, 0600));
    const struct stat before = statOf(rankingFile());
    QStringList besideBefore = entries(folder);

    ChildProcess a = pupilCopy(ami, folder, {0, 40, u"Ami"});
    ChildProcess b = pupilCopy(bo, folder, {0, 45, u"Bo"});
    const QString wrong = playScript(script, a, b);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    QCOMPARE(readFile(rankingFile()).toHex(' '), after.toHex(' '));
    // Who may read and write the file is as the teacher set it; it is the same file.
    const struct stat now = statOf(rankingFile());
    QCOMPARE(std::make_tuple(now.st_uid, now.st_gid, now.st_mode, now.st_ino),
             std::make_tuple(before.st_uid, before.st_gid, before.st_mode, before.st_ino));
    // No pupil was moved to a private file, and nothing of the saves is left beside the file
    // but, in a sticky folder where only its maker may remove it, a crashed copy's journal,
    // emptied.
    QCOMPARE(entries(temp->path()), QStringList{QStringLiteral("class")});
    QStringList beside = entries(folder);
    if (QFileInfo(rankingFile() + QStringLiteral(".journal")).size() == 0)
        beside.removeAll(QStringLiteral("tavon.rnk.journal"));
    QCOMPARE(beside, besideBefore);
}

void RankingPupilsTest::journalNotOfTheProgramIsLeftAlone_data()
{
    QTest::addColumn<Folder>("setUp");
    QTest::addColumn<QByteArray>("wanted"); // what the planted journal would make of the file; empty: a hard link

    const QByteArray evil = QByteArray(record("EVIL", 32767)).repeated(5) + startingFile.mid(60, 840);
    QTest::newRow("open folder, journal a hard link to the file") << Folder::Sticky << QByteArray();
    QTest::newRow("group folder, journal a hard link to the file") << Folder::Group << QByteArray();
    QTest::newRow("outsider's journal: EVIL in every place") << Folder::StickyOfClass << evil;
    QTest::newRow("outsider's journal: every list blank")
        << Folder::StickyOfClass << blankRecords(21) + startingFile.mid(252, 648);
    QTest::newRow("outsider's journal: the file cut to 12 bytes") << Folder::StickyOfClass << startingFile.left(12);
}

void RankingPupilsTest::journalNotOfTheProgramIsLeftAlone()
{
    QFETCH(Folder, setUp);
    QFETCH(QByteArray, wanted);

    QVERIFY(writeFile(rankingFile(), startingFile));
    setUpFolder(folder, rankingFile(), setUp);
    const QString journal = rankingFile() + QStringLiteral(".journal");
    QByteArray planted;
    if (wanted.isEmpty()) {
        QVERIFY(::link(QFile::encodeName(rankingFile()).constData(), QFile::encodeName(journal).constData()) == 0);
    } else {
        planted = plantedJournal(startingFile, wanted);
        QVERIFY(writeFile(journal, planted) && setOwner(journal, outsider, outsider, 0444));
    }

    ChildProcess a = pupilCopy(ami, folder, {0, 40, u"Ami"});
    QVERIFY(a.send('o') && a.receive(10s) == 'O');
    QCOMPARE(readFile(rankingFile()).toHex(' '), startingFile.toHex(' '));
    // A file with a second name is no file that a save writes: a pupil may have made that name.
    QVERIFY(a.send('s') && a.receive(10s) == (wanted.isEmpty() ? 'F' : 'S'));
    QCOMPARE(readFile(rankingFile()).toHex(' '), (wanted.isEmpty() ? startingFile : withAmi + tail).toHex(' '));
    if (wanted.isEmpty())
        QCOMPARE(statOf(journal).st_ino, statOf(rankingFile()).st_ino);
    else
        QCOMPARE(readFile(journal), planted);
}

void RankingPupilsTest::saveLeavesBytesAfterRecord75Alone()
{
    constexpr qint64 size = qint64(4) << 30;
    const QByteArray last("the last bytes of a 4 GiB file\n");
    {
        QFile f(rankingFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write(startingFile) == startingFile.size() && f.resize(size - last.size())
                && f.seek(size - last.size()));
        QVERIFY(f.write(last) == last.size());
    }
    setUpFolder(folder, rankingFile(), Folder::Group);
    const struct stat before = statOf(rankingFile());

    ChildProcess a = pupilCopy(ami, folder, {0, 40, u"Ami"});
    QVERIFY(a.send('o') && a.receive(10s) == 'O');
    QVERIFY(a.send('s') && a.receive(10s) == 'S');

    const struct stat after = statOf(rankingFile());
    QCOMPARE(after.st_size, before.st_size);
    QVERIFY2(after.st_blocks <= before.st_blocks + 8, qPrintable(QString::number(after.st_blocks)));
    QFile f(rankingFile());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.read(900 + tail.size()).toHex(' '), (withAmi + tail).toHex(' '));
    QVERIFY(f.seek(size - last.size()));
    QCOMPARE(f.read(last.size()), last);
}

QTEST_GUILESS_MAIN(RankingPupilsTest)
#include "tst_rankingpupils.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The ranking file tavon.rnk on real files in a temporary directory: Read, Save, Blank, Close,
// and where the file is kept.
#include "support/ranking_bytes.h"
#include "support/text.h"
#include "storage/ranking_file.h"
#include "support/program_dir.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <algorithm>
#include <memory>

using results::BestFiveLists;
using results::readCount;
using storage::RankingFile;

using namespace rankingbytes;

// writeFile as a test step: fails the test when the file cannot be written.
#define WRITE_FILE(path, bytes) QVERIFY2(writeFile(path, bytes), qPrintable(path))

class RankingFileTest : public ProgramDirTest {
    Q_OBJECT

private slots:
    // Guards against a missing file left missing, or entries filled with leftovers instead of blanks.
    void missingFileIsCreatedEmptyAndReadsBlank();

    // Guards against a first Save that writes fewer or more than records 1 to 75, or non-blank
    // padding records, against Save dropping what follows record 75, changing record 21, or leaving old
    // contents in records 22 to 75, and against Blank touching more or fewer records than 1 to
    // 21, or changing the length.
    void saveAndBlankWriteOnlyTheirRecords_data();
    void saveAndBlankWriteOnlyTheirRecords();

    // Guards against a record cut short by the end of the file read as garbage.
    void shortFileReadsMissingRecordsAsBlank();

    // Guards against scores read or written unsigned or in the wrong byte order, and a Save
    // that enters the new score by another rule than the lists' (rules/ranking.h).
    void negativeScoresSurviveReadAndSave();

    // Guards against names written past their 10 bytes, cut inside a character, or lost.
    void typedNamesAreStoredInTenBytes_data();
    void typedNamesAreStoredInTenBytes();

    // Guards against Save writing the lists as this opening read them, which would undo what
    // another opening saved or cleared in the meantime, or the tail it saw at Read.
    void saveEntersIntoWhatTheFileHoldsNow_data();
    void saveEntersIntoWhatTheFileHoldsNow();

    // Guards against Save re-encoding names it cannot read, which would destroy them.
    void entriesLeftAloneKeepTheirBytesEvenWhenMoved();

    // Guards against scores lost when the program's directory does not take the file.
    void fallbackDirectoryWhenProgramDirectoryRefusesTheFile();

    // Guards against a relative XDG_DATA_HOME making the player's own file move with the
    // working directory.
    void fallbackDirectoryIgnoresRelativeDataHome();

    // Guards against a crash or a silent success when no file can be opened anywhere.
    void noUsableFileReadsBlankAndSaveFails();

    // Guards against a write that fails being reported as done.
    void saveFailsWhenTheFileCannotBeReplaced();

    // Guards against Close keeping the file or writing to it, and against stray temporary files.
    void closeReleasesTheFileAndWritesNothing();
};

void RankingFileTest::missingFileIsCreatedEmptyAndReadsBlank()
{
    BestFiveLists lists;
    std::fill_n(lists.seisekijikan, readCount, 99);
    std::fill_n(lists.seisekinamae, readCount, std::u16string(u"old"));
    RankingFile file(dir->options());
    file.read(lists);

    QVERIFY(QFile::exists(dir->programFile()));
    QCOMPARE(QFileInfo(dir->programFile()).size(), 0);
    QCOMPARE(QFileInfo(file.path()), QFileInfo(dir->programFile()));
    QVERIFY(file.isOpen());
    QVERIFY(file.isWritable());
    QCOMPARE(QList<int>(lists.seisekijikan, lists.seisekijikan + readCount), QList<int>(readCount));
    QCOMPARE(qsList(lists.seisekinamae, lists.seisekinamae + readCount), QStringList(readCount));
    file.close();
    QCOMPARE(QFileInfo(dir->programFile()).size(), 0); // stays even though nothing was saved
}

void RankingFileTest::saveAndBlankWriteOnlyTheirRecords_data()
{
    QTest::addColumn<bool>("clearing");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");

    const QByteArray odd21 = QByteArray("\xFF\x00zz\x81", 5).leftJustified(10, '\0') + QByteArray("\x34\x12", 2);
    const QByteArray tail("tail: anything at all\n");
    // The saved entry (range 3, score 200) takes record 16; records 16..19 move down one.
    const QByteArray saved =
        numberedRecords(1, 15) + record("New", 200) + numberedRecords(16, 4) + odd21 + blankRecords(54);
    const QByteArray full = numberedRecords(1, 20) + odd21 + numberedRecords(22, 54);
    QTest::newRow("save: empty file becomes 900 bytes")
        << false << QByteArray() << blankRecords(15) + record("New", 200) + blankRecords(59);
    QTest::newRow("save: file of exactly 21 records") << false << numberedRecords(1, 20) + odd21 << saved;
    QTest::newRow("save: 900 bytes, records 22..75 blanked") << false << full << saved;
    QTest::newRow("save: longer file keeps its tail") << false << full + tail << saved + tail;
    QTest::newRow("blank: empty file becomes 252 bytes") << true << QByteArray() << blankRecords(21);
    QTest::newRow("blank: short file grows to 21 records") << true << numberedRecords(1, 8) << blankRecords(21);
    QTest::newRow("blank: 900 bytes, records 22..75 and the length kept")
        << true << numberedRecords(1, 75) << blankRecords(21) + numberedRecords(22, 54);
    QTest::newRow("blank: bytes after record 75 kept")
        << true << numberedRecords(1, 75) + "extra" << blankRecords(21) + numberedRecords(22, 54) + "extra";
}

void RankingFileTest::saveAndBlankWriteOnlyTheirRecords()
{
    QFETCH(bool, clearing);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    WRITE_FILE(dir->programFile(), before);
    auto&& [lists, file] = Opening(dir->options());
    QVERIFY(clearing ? file.blank() : file.save({3, 200, u"New"}));
    file.close();
    QCOMPARE(readFile(dir->programFile()).toHex(' '), after.toHex(' '));
}

void RankingFileTest::shortFileReadsMissingRecordsAsBlank()
{
    // Two whole records and half of the third.
    WRITE_FILE(dir->programFile(), record("Ann", 40) + record("Ben", 35) + record("Cy", 30).left(6));
    auto&& [lists, file] = Opening(dir->options());
    file.close();

    QCOMPARE(QList<int>(lists.seisekijikan, lists.seisekijikan + readCount),
             QList<int>({40, 35}) + QList<int>(readCount - 2));
    QCOMPARE(qsList(lists.seisekinamae, lists.seisekinamae + readCount),
             QStringList({"Ann", "Ben"}) + QStringList(readCount - 2));
}

void RankingFileTest::negativeScoresSurviveReadAndSave()
{
    // Range 0 holds two blank places (score 0) and "Neg" at place 3, with the lowest score
    // there is; "Eq" with the same score is saved. Compared as signed numbers it goes below
    // the blanks and, being equal, above "Neg".
    const int score = -32768;
    WRITE_FILE(dir->programFile(), blankRecords(2) + record("Neg", score) + blankRecords(72));
    auto&& [lists, file] = Opening(dir->options());
    QCOMPARE(int(lists.seisekijikan[2]), score);
    QVERIFY(file.save({0, static_cast<std::int16_t>(score), u"Eq"}));
    file.close();
    const QByteArray after = blankRecords(2) + record("Eq", score) + record("Neg", score) + blankRecords(71);
    QCOMPARE(readFile(dir->programFile()).toHex(' '), after.toHex(' '));
}

void RankingFileTest::typedNamesAreStoredInTenBytes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("shown");

    QTest::newRow("10 ASCII letters") << QStringLiteral("abcdefghij") << QByteArray("abcdefghij")
                                      << QStringLiteral("abcdefghij");
    QTest::newRow("11 ASCII letters") << QStringLiteral("abcdefghijk") << QByteArray("abcdefghij")
                                      << QStringLiteral("abcdefghij");
    QTest::newRow("five double-byte characters")
        << QStringLiteral("やまだたろ") << QByteArray::fromHex("82e282dc82be82bd82eb") << QStringLiteral("やまだたろ");
    QTest::newRow("Shift-JIS form passes 10 bytes")
        << QStringLiteral("Aさとうはなこ") << QByteArray::fromHex("4182b382c682a482cd20")
        << QStringLiteral("Aさとうは");
    QTest::newRow("unmappable characters") << QStringLiteral("Zoë😀") << QByteArray("Zo??") << QStringLiteral("Zo??");
}

void RankingFileTest::typedNamesAreStoredInTenBytes()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, field);
    QFETCH(QString, shown);

    auto&& [lists, file] = Opening(dir->options());
    QVERIFY(file.save({2, 25, u16(typed)}));
    file.close();

    QCOMPARE(readFile(dir->programFile()).toHex(' '),
             (blankRecords(10) + record(field, 25) + blankRecords(64)).toHex(' '));

    auto&& [again, reopened] = Opening(dir->options());
    QCOMPARE(qs(again.seisekinamae[10]), shown);
}

void RankingFileTest::saveEntersIntoWhatTheFileHoldsNow_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QByteArray>("range1");
    QTest::addColumn<QByteArray>("others");

    // The file at Read: range 1 is A..E, the rest numbered. This opening saves "Me" with 35 in range 1.
    const QByteArray othersBefore = numberedRecords(1, 5) + numberedRecords(11, 11);
    QTest::newRow("another opening saved in the same range")
        << QStringLiteral("save 45 in range 1")
        << record("A", 50) + record("Oth", 45) + record("B", 40) + record("Me", 35) + record("C", 30) << othersBefore;
    QTest::newRow("another opening saved in another range")
        << QStringLiteral("save 200 in range 2")
        << record("A", 50) + record("B", 40) + record("Me", 35) + record("C", 30) + record("D", 20)
        << numberedRecords(1, 5) + record("Oth", 200) + numberedRecords(11, 4) + numberedRecords(16, 6);
    QTest::newRow("another opening cleared the lists")
        << QStringLiteral("blank") << record("Me", 35) + blankRecords(4) << blankRecords(16);
    QTest::newRow("better scores arrived: the entry no longer fits")
        << QStringLiteral("range 1 all 60") << record("X", 60).repeated(5) << othersBefore;
    QTest::newRow("bytes were added after record 75")
        << QStringLiteral("append")
        << record("A", 50) + record("B", 40) + record("Me", 35) + record("C", 30) + record("D", 20) << othersBefore;
}

void RankingFileTest::saveEntersIntoWhatTheFileHoldsNow()
{
    QFETCH(QString, meanwhile);
    QFETCH(QByteArray, range1);
    QFETCH(QByteArray, others);

    WRITE_FILE(dir->programFile(), gameFile({}));
    auto&& [lists, file] = Opening(dir->options());

    auto&& [otherLists, other] = Opening(dir->options());
    if (meanwhile == QStringLiteral("save 45 in range 1"))
        QVERIFY(other.save({1, 45, u"Oth"}));
    else if (meanwhile == QStringLiteral("save 200 in range 2"))
        QVERIFY(other.save({2, 200, u"Oth"}));
    else if (meanwhile == QStringLiteral("blank"))
        QVERIFY(other.blank());
    else if (meanwhile == QStringLiteral("append"))
        WRITE_FILE(dir->programFile(), readFile(dir->programFile()) + "written meanwhile");
    else
        WRITE_FILE(dir->programFile(), numberedRecords(1, 5) + record("X", 60).repeated(5) + numberedRecords(11, 11)
                                           + numberedRecords(22, 54));
    other.close();

    QVERIFY(file.save({1, 35, u"Me"}));
    file.close();
    const QByteArray expected = others.left(5 * 12) + range1 + others.mid(5 * 12) + blankRecords(54)
                                + (meanwhile == QStringLiteral("append") ? "written meanwhile" : "");
    QCOMPARE(readFile(dir->programFile()).toHex(' '), expected.toHex(' '));
}

void RankingFileTest::entriesLeftAloneKeepTheirBytesEvenWhenMoved()
{
    const QByteArray invalid = record(QByteArray("\x81 X\xFF", 4), 40);
    const QByteArray nulPadded = QByteArray("Nul\0\0\0\0\0\0\0", 10) + QByteArray("\x1e\x00", 2);
    const QByteArray odd21 = record(QByteArray("\xA0\xFD", 2), 7);
    WRITE_FILE(dir->programFile(), invalid + nulPadded + blankRecords(18) + odd21);

    auto&& [lists, file] = Opening(dir->options());
    QCOMPARE(qs(lists.seisekinamae[0]), QStringLiteral("\uFFFD X\uFFFD"));
    QCOMPARE(qs(lists.seisekinamae[1]), QStringLiteral("Nul"));
    // A new best score pushes both entries one place down.
    QVERIFY(file.save({0, 45, u"New"}));
    file.close();

    const QByteArray expected = record("New", 45) + invalid + nulPadded + blankRecords(17) + odd21 + blankRecords(54);
    QCOMPARE(readFile(dir->programFile()).toHex(' '), expected.toHex(' '));
}

void RankingFileTest::fallbackDirectoryWhenProgramDirectoryRefusesTheFile()
{
    // The program's directory cannot hold files. A tavon.rnk that cannot be opened (a
    // directory, a pipe, a link loop) takes the same way; tst_rankingplaces tries those.
    const QString plain = dir->path(QStringLiteral("plain"));
    WRITE_FILE(plain, "not a directory");
    dir->programDir = plain + QStringLiteral("/program");

    auto&& [lists, file] = Opening(dir->options());
    QCOMPARE(QFileInfo(file.path()), QFileInfo(dir->fallbackFile()));
    QVERIFY(file.isWritable());
    QCOMPARE(QFileInfo(dir->fallbackFile()).size(), 0);

    QVERIFY(file.save({0, 12, u"Own"}));
    file.close();
    QCOMPARE(recordAt(readFile(dir->fallbackFile()), 1).toHex(' '), record("Own", 12).toHex(' '));

    // The next opening finds the saved entry again.
    auto&& [again, reopened] = Opening(dir->options());
    QCOMPARE(qs(again.seisekinamae[0]), QStringLiteral("Own"));
}

void RankingFileTest::fallbackDirectoryIgnoresRelativeDataHome()
{
    const QByteArray home = qgetenv("HOME");
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", dir->path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", "relative/data");
    const QString directory = storage::playerDataDirectory();
    qputenv("HOME", home);
    qputenv("XDG_DATA_HOME", dataHome);
    QCOMPARE(directory, dir->path() + QStringLiteral("/.local/share/") + QCoreApplication::applicationName());
}

void RankingFileTest::noUsableFileReadsBlankAndSaveFails()
{
    const QString plain = dir->path(QStringLiteral("plain"));
    WRITE_FILE(plain, "not a directory");
    dir->programDir = plain + QStringLiteral("/program");
    dir->fallbackDir = plain + QStringLiteral("/own-data");

    BestFiveLists lists;
    lists.seisekijikan[3] = 77;
    RankingFile file(dir->options());
    file.read(lists);
    QCOMPARE(int(lists.seisekijikan[3]), 0);
    QVERIFY(!file.isWritable());
    QCOMPARE(file.save({0, 5, u"Lost"}).reason(), storage::SaveResult::NotWritable);
    QCOMPARE(file.blank().reason(), storage::SaveResult::NotWritable);
    file.close();
    QCOMPARE(readFile(plain), QByteArray("not a directory"));
}

void RankingFileTest::saveFailsWhenTheFileCannotBeReplaced()
{
    auto&& [lists, file] = Opening(dir->options());
    // The program's directory goes away while the window is open.
    QVERIFY(QDir(dir->programDir).removeRecursively());
    WRITE_FILE(dir->programDir, "now a plain file");

    QCOMPARE(file.save({0, 9, u"Lost"}).reason(), storage::SaveResult::NotWritable);
    file.close();
    QCOMPARE(readFile(dir->programDir), QByteArray("now a plain file"));
}

void RankingFileTest::closeReleasesTheFileAndWritesNothing()
{
    const QByteArray before = numberedRecords(1, 30);
    WRITE_FILE(dir->programFile(), before);
    auto&& [lists, file] = Opening(dir->options());
    QVERIFY(file.isOpen());
    file.close();
    QVERIFY(!file.isOpen());
    QCOMPARE(readFile(dir->programFile()), before);

    file.read(lists);
    QVERIFY(file.save({0, 1, u"x"}));
    QVERIFY(file.isOpen());
    file.close();
    QCOMPARE(QDir(dir->programDir).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral("tavon.rnk")});
}

QTEST_GUILESS_MAIN(RankingFileTest)
#include "tst_rankingfile.moc"

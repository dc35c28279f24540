// The ranking file tavon.rnk on real files in a temporary directory: Read, Save, Blank, Close,
// and where the file is kept.
#include "results/ranking_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using results::BestFiveLists;
using results::RankingFile;

namespace {

// One record as the file holds it: the name bytes padded with spaces, then the score low byte first.
QByteArray record(const QByteArray& name, int score)
{
    QByteArray bytes = name.leftJustified(10, ' ', true);
    bytes.append(static_cast<char>(score & 0xFF));
    bytes.append(static_cast<char>((score >> 8) & 0xFF));
    return bytes;
}

QByteArray blankRecords(int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += record("", 0);
    return bytes;
}

// Records with a different name and score each, so that a record in the wrong place shows.
QByteArray numberedRecords(int first, int count)
{
    QByteArray bytes;
    for (int n = first; n < first + count; ++n)
        bytes += record("rec" + QByteArray::number(n), 100 + n);
    return bytes;
}

QByteArray recordAt(const QByteArray& file, int n)
{
    return file.mid((n - 1) * 12, 12);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace

class RankingFileTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> temp;
    QString programDir;
    QString fallbackDir;
    QString programFile() const { return programDir + QStringLiteral("/tavon.rnk"); }
    QString fallbackFile() const { return fallbackDir + QStringLiteral("/tavon.rnk"); }

private slots:
    void init();
    void cleanupTestCase();

    // Guards against a missing file left missing, or entries filled with leftovers instead of blanks.
    void missingFileIsCreatedEmptyAndReadsBlank();

    // Guards against a first Save that writes fewer or more than records 1 to 75, or non-blank padding records.
    void firstSaveIntoEmptyFileWrites900Bytes();

    // Guards against Save dropping what follows record 75, changing record 21, or leaving old
    // contents in records 22 to 75.
    void saveKeepsRecord21AndEverythingAfterRecord75_data();
    void saveKeepsRecord21AndEverythingAfterRecord75();

    // Guards against Blank touching more or fewer records than 1 to 21, or changing the length.
    void blankClearsRecords1To21Only_data();
    void blankClearsRecords1To21Only();

    // Guards against a record cut short by the end of the file read as garbage.
    void shortFileReadsMissingRecordsAsBlank();

    // Guards against scores read or written unsigned or in the wrong byte order.
    void negativeScoresSurviveReadAndSave_data();
    void negativeScoresSurviveReadAndSave();

    // Guards against names written past their 10 bytes, cut inside a character, or lost.
    void typedNamesAreStoredInTenBytes_data();
    void typedNamesAreStoredInTenBytes();

    // Guards against Save re-encoding names it cannot read, which would destroy them.
    void entriesLeftAloneKeepTheirBytesEvenWhenMoved();

    // Guards against Save writing back the tail it saw at Read instead of the file as it is now.
    void saveKeepsWhatWasAddedAfterRecord75SinceRead();

    // Guards against scores lost when the program's directory does not take the file.
    void fallbackDirectoryWhenProgramDirectoryRefusesTheFile_data();
    void fallbackDirectoryWhenProgramDirectoryRefusesTheFile();

    // Guards against a read-only shared file hiding its lists once the player's own copy is used.
    void fallbackStartsAsCopyOfReadOnlyProgramFile();

    // Guards against a crash or a silent success when no file can be opened anywhere.
    void noUsableFileReadsBlankAndSaveFails();

    // Guards against a write that fails being reported as done.
    void saveFailsWhenTheFileCannotBeReplaced();

    // Guards against Close keeping the file or writing to it, and against stray temporary files.
    void closeReleasesTheFileAndWritesNothing();
};

void RankingFileTest::init()
{
    temp = std::make_unique<QTemporaryDir>();
    QVERIFY(temp->isValid());
    programDir = temp->filePath(QStringLiteral("program"));
    fallbackDir = temp->filePath(QStringLiteral("own-data"));
    QVERIFY(QDir().mkpath(programDir));
    results::setRankingDirectories(programDir, fallbackDir);
}

void RankingFileTest::cleanupTestCase()
{
    results::setRankingDirectories({}, {});
}

void RankingFileTest::missingFileIsCreatedEmptyAndReadsBlank()
{
    BestFiveLists lists;
    for (int i = 0; i < results::readCount; ++i) {
        lists.seisekijikan[i] = 99;
        lists.seisekinamae[i] = QStringLiteral("old");
    }
    RankingFile file;
    file.read(lists);

    QVERIFY(QFile::exists(programFile()));
    QCOMPARE(QFileInfo(programFile()).size(), 0);
    QCOMPARE(QFileInfo(file.path()), QFileInfo(programFile()));
    QVERIFY(file.isOpen());
    QVERIFY(file.isWritable());
    for (int i = 0; i < results::readCount; ++i) {
        QCOMPARE(int(lists.seisekijikan[i]), 0);
        QCOMPARE(lists.seisekinamae[i], QString());
    }
    file.close();
    QCOMPARE(QFileInfo(programFile()).size(), 0); // stays even though nothing was saved
}

void RankingFileTest::firstSaveIntoEmptyFileWrites900Bytes()
{
    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    lists.seisekijikan[5] = 30;
    lists.seisekinamae[5] = QStringLiteral("Taro");
    QVERIFY(file.save(lists));
    file.close();

    const QByteArray expected = blankRecords(5) + record("Taro", 30) + blankRecords(69);
    QCOMPARE(expected.size(), 900);
    QCOMPARE(readFile(programFile()).toHex(' '), expected.toHex(' '));
}

void RankingFileTest::saveKeepsRecord21AndEverythingAfterRecord75_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");

    const QByteArray odd21 = QByteArray("\xFF\x00zz\x81", 5).leftJustified(10, '\0') + QByteArray("\x34\x12", 2);
    const QByteArray tail("tail: anything at all\n");
    QTest::newRow("file of exactly 21 records")
        << numberedRecords(1, 20) + odd21 << numberedRecords(1, 20) + odd21 + blankRecords(54);
    QTest::newRow("900 bytes: records 22..75 blanked")
        << numberedRecords(1, 20) + odd21 + numberedRecords(22, 54)
        << numberedRecords(1, 20) + odd21 + blankRecords(54);
    QTest::newRow("longer file keeps its tail")
        << numberedRecords(1, 20) + odd21 + numberedRecords(22, 54) + tail
        << numberedRecords(1, 20) + odd21 + blankRecords(54) + tail;
}

void RankingFileTest::saveKeepsRecord21AndEverythingAfterRecord75()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    writeFile(programFile(), before);
    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    QVERIFY(file.save(lists));
    file.close();
    QCOMPARE(readFile(programFile()).toHex(' '), after.toHex(' '));
}

void RankingFileTest::blankClearsRecords1To21Only_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("empty file becomes 252 bytes") << QByteArray() << blankRecords(21);
    QTest::newRow("short file grows to 21 records") << numberedRecords(1, 8) << blankRecords(21);
    QTest::newRow("900 bytes: records 22..75 and the length kept")
        << numberedRecords(1, 75) << blankRecords(21) + numberedRecords(22, 54);
    QTest::newRow("bytes after record 75 kept")
        << numberedRecords(1, 75) + "extra" << blankRecords(21) + numberedRecords(22, 54) + "extra";
}

void RankingFileTest::blankClearsRecords1To21Only()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    writeFile(programFile(), before);
    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    QVERIFY(file.blank());
    file.close();
    QCOMPARE(readFile(programFile()).toHex(' '), after.toHex(' '));
}

void RankingFileTest::shortFileReadsMissingRecordsAsBlank()
{
    // Two whole records and half of the third.
    writeFile(programFile(), record("Ann", 40) + record("Ben", 35) + record("Cy", 30).left(6));
    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    file.close();

    QCOMPARE(lists.seisekinamae[0], QStringLiteral("Ann"));
    QCOMPARE(int(lists.seisekijikan[1]), 35);
    for (int i = 2; i < results::readCount; ++i) {
        QCOMPARE(int(lists.seisekijikan[i]), 0);
        QCOMPARE(lists.seisekinamae[i], QString());
    }
}

void RankingFileTest::negativeScoresSurviveReadAndSave_data()
{
    QTest::addColumn<int>("score");
    QTest::newRow("-1") << -1;
    QTest::newRow("-50") << -50;
    QTest::newRow("most negative") << -32768;
    QTest::newRow("most positive") << 32767;
}

void RankingFileTest::negativeScoresSurviveReadAndSave()
{
    QFETCH(int, score);

    const QByteArray before = blankRecords(2) + record("Neg", score) + blankRecords(72);
    writeFile(programFile(), before);
    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    QCOMPARE(int(lists.seisekijikan[2]), score);
    QVERIFY(file.save(lists));
    file.close();
    QCOMPARE(readFile(programFile()).toHex(' '), before.toHex(' '));
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
    QTest::newRow("five double-byte characters") << QStringLiteral("やまだたろ")
                                                 << QByteArray::fromHex("82e282dc82be82bd82eb")
                                                 << QStringLiteral("やまだたろ");
    QTest::newRow("Shift-JIS form passes 10 bytes") << QStringLiteral("Aさとうはなこ")
                                                    << QByteArray::fromHex("4182b382c682a482cd20")
                                                    << QStringLiteral("Aさとうは");
    QTest::newRow("unmappable characters") << QStringLiteral("Zoë😀") << QByteArray("Zo??")
                                           << QStringLiteral("Zo??");
}

void RankingFileTest::typedNamesAreStoredInTenBytes()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, field);
    QFETCH(QString, shown);

    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    lists.seisekijikan[10] = 25;
    lists.seisekinamae[10] = typed;
    QVERIFY(file.save(lists));
    file.close();

    const QByteArray bytes = readFile(programFile());
    QCOMPARE(bytes.size(), 900);
    QCOMPARE(recordAt(bytes, 11).toHex(' '), record(field, 25).toHex(' '));

    BestFiveLists again;
    RankingFile reopened;
    reopened.read(again);
    QCOMPARE(again.seisekinamae[10], shown);
}

void RankingFileTest::entriesLeftAloneKeepTheirBytesEvenWhenMoved()
{
    const QByteArray invalid = record(QByteArray("\x81 X\xFF", 4), 40);
    const QByteArray nulPadded = QByteArray("Nul\0\0\0\0\0\0\0", 10) + QByteArray("\x1e\x00", 2);
    const QByteArray odd21 = record(QByteArray("\xA0\xFD", 2), 7);
    writeFile(programFile(), invalid + nulPadded + blankRecords(18) + odd21);

    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    QCOMPARE(lists.seisekinamae[0], QStringLiteral("\uFFFD X\uFFFD"));
    QCOMPARE(lists.seisekinamae[1], QStringLiteral("Nul"));
    // A new best score pushes both entries one place down.
    QCOMPARE(lists.enter(0, 45), 0);
    lists.seisekinamae[0] = QStringLiteral("New");
    QVERIFY(file.save(lists));
    file.close();

    const QByteArray bytes = readFile(programFile());
    QCOMPARE(recordAt(bytes, 1).toHex(' '), record("New", 45).toHex(' '));
    QCOMPARE(recordAt(bytes, 2).toHex(' '), invalid.toHex(' '));
    QCOMPARE(recordAt(bytes, 3).toHex(' '), nulPadded.toHex(' '));
    QCOMPARE(recordAt(bytes, 21).toHex(' '), odd21.toHex(' '));
}

void RankingFileTest::saveKeepsWhatWasAddedAfterRecord75SinceRead()
{
    writeFile(programFile(), numberedRecords(1, 75));
    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    {
        QFile other(programFile());
        QVERIFY(other.open(QIODevice::Append));
        other.write("written meanwhile");
    }
    QVERIFY(file.save(lists));
    file.close();
    QVERIFY(readFile(programFile()).endsWith("written meanwhile"));
    QCOMPARE(readFile(programFile()).size(), 900 + 17);
}

void RankingFileTest::fallbackDirectoryWhenProgramDirectoryRefusesTheFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("directory cannot hold files") << QStringLiteral("under a plain file");
    QTest::newRow("tavon.rnk cannot be opened") << QStringLiteral("tavon.rnk is a directory");
}

void RankingFileTest::fallbackDirectoryWhenProgramDirectoryRefusesTheFile()
{
    QFETCH(QString, how);

    if (how == QStringLiteral("under a plain file")) {
        const QString plain = temp->filePath(QStringLiteral("plain"));
        writeFile(plain, "not a directory");
        programDir = plain + QStringLiteral("/program");
        results::setRankingDirectories(programDir, fallbackDir);
    } else {
        QVERIFY(QDir().mkpath(programFile()));
    }

    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    QCOMPARE(QFileInfo(file.path()), QFileInfo(fallbackFile()));
    QVERIFY(file.isWritable());
    QCOMPARE(QFileInfo(fallbackFile()).size(), 0);

    lists.seisekijikan[0] = 12;
    lists.seisekinamae[0] = QStringLiteral("Own");
    QVERIFY(file.save(lists));
    file.close();
    QCOMPARE(recordAt(readFile(fallbackFile()), 1).toHex(' '), record("Own", 12).toHex(' '));

    // The next opening finds the saved entry again.
    BestFiveLists again;
    RankingFile reopened;
    reopened.read(again);
    QCOMPARE(again.seisekinamae[0], QStringLiteral("Own"));
}

void RankingFileTest::fallbackStartsAsCopyOfReadOnlyProgramFile()
{
    const QByteArray shared = record("Shared", 44) + blankRecords(74);
    writeFile(programFile(), shared);
    QVERIFY(QFile::setPermissions(programFile(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    if (QFile(programFile()).open(QIODevice::ReadWrite))
        QSKIP("file permissions do not bind this user (running as root)");

    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    QCOMPARE(QFileInfo(file.path()), QFileInfo(fallbackFile()));
    QCOMPARE(lists.seisekinamae[0], QStringLiteral("Shared"));
    lists.seisekinamae[1] = QStringLiteral("Mine");
    lists.seisekijikan[1] = 20;
    QVERIFY(file.save(lists));
    file.close();
    QCOMPARE(readFile(programFile()), shared);
    QCOMPARE(recordAt(readFile(fallbackFile()), 2), record("Mine", 20));
}

void RankingFileTest::noUsableFileReadsBlankAndSaveFails()
{
    const QString plain = temp->filePath(QStringLiteral("plain"));
    writeFile(plain, "not a directory");
    results::setRankingDirectories(plain + QStringLiteral("/program"), plain + QStringLiteral("/own-data"));

    BestFiveLists lists;
    lists.seisekijikan[3] = 77;
    RankingFile file;
    file.read(lists);
    QCOMPARE(int(lists.seisekijikan[3]), 0);
    QVERIFY(!file.isWritable());
    lists.seisekinamae[0] = QStringLiteral("Lost");
    QVERIFY(!file.save(lists));
    QVERIFY(!file.blank());
    file.close();
    QCOMPARE(readFile(plain), QByteArray("not a directory"));
}

void RankingFileTest::saveFailsWhenTheFileCannotBeReplaced()
{
    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    // The program's directory goes away while the window is open.
    QVERIFY(QDir(programDir).removeRecursively());
    writeFile(programDir, "now a plain file");

    lists.seisekinamae[0] = QStringLiteral("Lost");
    lists.seisekijikan[0] = 9;
    QVERIFY(!file.save(lists));
    file.close();
    QCOMPARE(readFile(programDir), QByteArray("now a plain file"));
}

void RankingFileTest::closeReleasesTheFileAndWritesNothing()
{
    const QByteArray before = numberedRecords(1, 30);
    writeFile(programFile(), before);
    BestFiveLists lists;
    RankingFile file;
    file.read(lists);
    QVERIFY(file.isOpen());
    file.close();
    QVERIFY(!file.isOpen());
    QCOMPARE(readFile(programFile()), before);

    file.read(lists);
    QVERIFY(file.save(lists));
    QVERIFY(!file.isOpen());
    file.close();
    QCOMPARE(QDir(programDir).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral("tavon.rnk")});
}

QTEST_GUILESS_MAIN(RankingFileTest)
#include "tst_rankingfile.moc"

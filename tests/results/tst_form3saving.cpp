// SPDX-License-Identifier: GPL-3.0-or-later
// The results window's save and clearing against the ranking file as it is on disk: a file
// that cannot be written where the window looks for it, and another running copy that saves,
// clears or holds the lock while the window is open.
#include "storage/ranking_file.h"
#include "support/ranking_bytes.h"
#include "support/results_fixture.h"
#include "ui/application.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

using namespace resultsfixture;
using rankingbytes::blankRecords;
using rankingbytes::record;

class Form3SavingTest : public QObject, private ResultsFixture {
    Q_OBJECT

private slots:
    void initTestCase() { ui::initApplication(*qApp); }
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // Guards against a failed save or clearing passing silently or keeping the window open, and
    // against a ranking file in an unusual place crashing the window or hiding what could be read.
    void failedWriteIsReported_data();
    void failedWriteIsReported();

    // Guards against 戻る writing the lists as the window read them, which would drop what
    // another running copy saved or cleared while this window was open, and against a window
    // frozen while its save waits for another copy's lock: the other copy here lets go only
    // from a timer of this program's event loop.
    void returnSavesTheEntryIntoTheFileAsItIsNow_data();
    void returnSavesTheEntryIntoTheFileAsItIsNow();
};

void Form3SavingTest::failedWriteIsReported_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<bool>("clearing");
    QTest::addColumn<QStringList>("names");

    const QString here = QStringLiteral("ここです！");
    const QStringList alone{here, "", "", "", ""};
    QTest::newRow("no directory can be made, Enter") << "nowhere" << false << alone;
    QTest::newRow("no directory can be made, 初期化 answered OK") << "nowhere" << true << alone;
    QTest::newRow("tavon.rnk is a directory") << "directory" << false << alone;
    QTest::newRow("tavon.rnk is a named pipe") << "pipe" << false << alone;
    QTest::newRow("tavon.rnk links into a missing directory") << "link" << false << alone;
    QTest::newRow("another copy keeps the lock") << "lock" << false << QStringList{"A", "B", here, "C", "D"};
}

void Form3SavingTest::failedWriteIsReported()
{
    QFETCH(QString, place);
    QFETCH(bool, clearing);
    QFETCH(QStringList, names);

    // The player's own directory cannot be made, nor in the first rows the program's.
    const QString plain = dir->path(QStringLiteral("plain"));
    QVERIFY(rankingbytes::writeFile(plain, "x"));
    wiring->rankingOptions().fallbackDirectory = plain + QStringLiteral("/own-data");
    int otherCopy = -1;
    if (place == QStringLiteral("nowhere")) {
        wiring->rankingOptions().programDirectory = plain + QStringLiteral("/program");
    } else if (place == QStringLiteral("directory")) {
        QVERIFY(QDir().mkpath(rankingPath()));
    } else if (place == QStringLiteral("pipe")) {
        QCOMPARE(::mkfifo(QFile::encodeName(rankingPath()).constData(), 0666), 0);
    } else if (place == QStringLiteral("link")) {
        QVERIFY(QFile::link(dir->path(QStringLiteral("gone/tavon.rnk")), rankingPath()));
    } else {
        writeRanking(usual);
        wiring->rankingOptions().lockWait = std::chrono::milliseconds(200);
        otherCopy = rankingbytes::holdSaveLock(rankingPath());
        QVERIFY(otherCopy >= 0);
    }

    Form3& form = openResults(35, 2);
    QCOMPARE(captions(form.namae), names);
    QTest::keyClicks(form.Text1, "Ann");
    if (clearing) {
        fake->answers.push_back(ui::Answer::Ok);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
    } else {
        QTest::keyClick(form.Text1, Qt::Key_Return);
    }

    QCOMPARE(fake->messages.size(), std::size_t(clearing ? 2 : 1));
    const ui::Message& message = fake->messages.back();
    QCOMPARE(message.text, clearing ? QStringLiteral("成績一覧を消去できませんでした。")
                                    : QStringLiteral("成績を保存できませんでした。"));
    QCOMPARE(message.title, clearing ? QStringLiteral("初期化") : QStringLiteral("保存"));
    QVERIFY(message.icon == ui::Icon::Exclamation);
    QVERIFY(message.buttons == ui::Buttons::Ok);
    QVERIFY(!wiring->resultsExist());
    if (otherCopy >= 0) {
        QCOMPARE(fileBytes(), usual);
        ::close(otherCopy);
    }
}

void Form3SavingTest::returnSavesTheEntryIntoTheFileAsItIsNow_data()
{
    QTest::addColumn<QString>("other"); // what another running copy does while the window is open
    QTest::addColumn<QByteArray>("range2");

    QTest::newRow("the other copy saved 45 in the same range")
        << "save" << record("A", 50) + record("Oth", 45) + record("B", 40) + record("Kim", 35) + record("C", 30);
    QTest::newRow("the other copy cleared the lists") << "clear" << record("Kim", 35) + blankRecords(4);
    QTest::newRow("the other copy holds the lock a while")
        << "lock" << record("A", 50) + record("B", 40) + record("Kim", 35) + record("C", 30) + record("D", 20);
}

void Form3SavingTest::returnSavesTheEntryIntoTheFileAsItIsNow()
{
    QFETCH(QString, other);
    QFETCH(QByteArray, range2);

    writeRanking(usual);
    wiring->rankingOptions().lockWait = std::chrono::seconds(3);
    Form3& form = openResults(35, 2);
    QCOMPARE(form.namae(2).caption(), QStringLiteral("ここです！"));
    QTest::keyClicks(form.Text1, "Kim");

    int otherCopy = -1;
    if (other == QLatin1String("lock")) {
        otherCopy = rankingbytes::holdSaveLock(rankingPath());
        QVERIFY(otherCopy >= 0);
        QTimer::singleShot(300, [&] {
            ::close(otherCopy);
            otherCopy = -1;
        });
    } else {
        results::BestFiveLists otherLists;
        results::RankingFile copy(dir->options());
        copy.read(otherLists);
        QVERIFY(other == QLatin1String("clear") ? copy.blank() : copy.save({2, 45, u"Oth"}));
        copy.close();
    }

    QTest::keyClick(form.Text1, Qt::Key_Return);
    QCOMPARE(otherCopy, -1);
    QVERIFY(fake->messages.empty());
    const QByteArray expected = other == QLatin1String("clear")
                                    ? blankRecords(10) + range2 + blankRecords(60)
                                    : usual.left(10 * 12) + range2 + usual.mid(15 * 12, 6 * 12) + blankRecords(54);
    QCOMPARE(fileBytes().toHex(' '), expected.toHex(' '));
}

QTEST_MAIN(Form3SavingTest)
#include "tst_form3saving.moc"

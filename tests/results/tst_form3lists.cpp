// SPDX-License-Identifier: GPL-3.0-or-later
// The results window's lists on a real ranking file in a temporary directory: the range shown,
// the rows made at run time, where the controls are and their keyboard order, 初期化, a file
// that cannot be written where the window looks for it, and another running copy that saves,
// clears or holds the lock while the window is open.
#include "rules/module1.h"
#include "storage/ranking_file.h"
#include "support/ranking_bytes.h"
#include "support/results_fixture.h"
#include "support/rows.h"

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

class Form3ListsTest : public ResultsFixture {
    Q_OBJECT

private slots:
    // Guards against rows of another range, or a place caption in the wrong format.
    void showsListsOfTheCurrentRangeOnly_data();
    void showsListsOfTheCurrentRangeOnly();

    // Guards against run-time rows that do not line up with element 0 or look different from it.
    void rowsAreCopiesOfElementZero30PixelsApart_data();
    void rowsAreCopiesOfElementZero30PixelsApart();

    // Guards against controls placed over one another or outside the window.
    void controlsStayApartInsideTheWindow();

    // Guards against a keyboard order other than name box, 戻る, 初期化.
    void keyboardOrderIsNameBoxThenBackThenClear();

    // Guards against 初期化 without asking, Cancel changing the file, OK blanking the wrong
    // records, or the new entry being saved by either answer.
    void clearAsksAndBlanksOnlyOnOk_data();
    void clearAsksAndBlanksOnlyOnOk();

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

void Form3ListsTest::showsListsOfTheCurrentRangeOnly_data()
{
    QTest::addColumn<int>("hani");
    QTest::addColumn<QString>("range");
    QTest::addColumn<QStringList>("scores");
    QTest::addColumn<QStringList>("run");

    QTest::newRow("range 0") << 0 << QStringLiteral("－２～２") << QStringList{"9", "8", "7", "6", "5"}
                             << QStringList{"3", "2", "1"};
    QTest::newRow("range 1") << 1 << QStringLiteral("１～５") << QStringList{"19", "18", "17", "16", "15"}
                             << QStringList{"13", "12", "11"};
    QTest::newRow("range 3") << 3 << QStringLiteral("ランダム") << QStringList{"29", "28", "27", "26", "25"}
                             << QStringList{"33", "32", "31"};
}

void Form3ListsTest::showsListsOfTheCurrentRangeOnly()
{
    QFETCH(int, hani);
    QFETCH(QString, range);
    QFETCH(QStringList, scores);
    QFETCH(QStringList, run);

    writeRanking(fileWithRange2({-3, -4, -5, -6, -7}));
    for (int r = 0; r < 4; ++r)
        for (int p = 0; p < 3; ++p)
            Module1::anatakiroku[r][p] = static_cast<std::int16_t>(r * 10 + 3 - p);

    Form3& form = openResults(0, hani);
    QCOMPARE(form.enz0->caption(), range);
    QCOMPARE(captions(form.jikan), scores);
    QCOMPARE(captions(form.jikan1), run);
    QCOMPARE(captions(form.jyun), (QStringList{" 1", " 2", " 3", " 4", " 5"}));
    QCOMPARE(captions(form.jyun1), (QStringList{"1", " 2", " 3"}));
}

void Form3ListsTest::rowsAreCopiesOfElementZero30PixelsApart_data()
{
    QTest::addColumn<QString>("array");
    QTest::addColumn<int>("rows");

    const std::pair<const char*, int> arrays[] = {{"jyun", 5}, {"namae", 5}, {"jikan", 5}, {"jyun1", 3}, {"jikan1", 3}};
    for (const auto& [array, rows] : arrays)
        QTest::newRow(array) << QString::fromLatin1(array) << rows;
}

void Form3ListsTest::rowsAreCopiesOfElementZero30PixelsApart()
{
    QFETCH(QString, array);
    QFETCH(int, rows);

    Form3& form = openResults(0, 0);
    auto* first = form.findChild<ui::Label*>(array + QStringLiteral("(0)"));
    QVERIFY(first);
    for (int i = 1; i < rows; ++i) {
        auto* row = form.findChild<ui::Label*>(QStringLiteral("%1(%2)").arg(array).arg(i));
        QVERIFY2(row, qPrintable(array + QString::number(i)));
        QCOMPARE(row->geometry(), first->geometry().translated(0, 30 * i));
        QVERIFY(row->isVisibleTo(&form));
        QCOMPARE(row->font(), first->font());
        QCOMPARE(row->alignment(), first->alignment());
        QCOMPARE(row->palette().color(QPalette::Window), first->palette().color(QPalette::Window));
        QCOMPARE(row->autoFillBackground(), first->autoFillBackground());
    }
    QVERIFY(!form.findChild<ui::Label*>(QStringLiteral("%1(%2)").arg(array).arg(rows)));
}

void Form3ListsTest::controlsStayApartInsideTheWindow()
{
    Form3& form = openResults(30, 0); // with the name box shown
    const QRect area = form.client()->rect();
    QList<QWidget*> controls;
    for (QWidget* w : form.client()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!qobject_cast<ui::Line*>(w))
            controls << w;
    QCOMPARE(controls.size(), 15 + 4 * 3 + 2 * 2); // the design's controls plus the run-time rows
    for (QWidget* w : controls)
        QVERIFY2(area.contains(w->geometry()), qPrintable(w->objectName()));
    // Seams of less than a pixel in the design may round to one pixel, no more.
    for (int i = 0; i < controls.size(); ++i) {
        for (int j = i + 1; j < controls.size(); ++j) {
            const QRect overlap = controls[i]->geometry() & controls[j]->geometry();
            QVERIFY2(overlap.isEmpty() || overlap.width() <= 1 || overlap.height() <= 1,
                     qPrintable(controls[i]->objectName() + QStringLiteral(" / ") + controls[j]->objectName()));
        }
    }
}

void Form3ListsTest::keyboardOrderIsNameBoxThenBackThenClear()
{
    Form3& form = openResults(30, 0);
    QList<QWidget*> order;
    QWidget* w = form.Text1;
    do {
        if (w->focusPolicy() & Qt::TabFocus && w->isVisibleTo(&form))
            order << w;
        w = w->nextInFocusChain();
    } while (w != form.Text1);
    QCOMPARE(order, (QList<QWidget*>{form.Text1, form.Command1, form.Command2}));
    QVERIFY(!form.Command1->isDefault() && !form.Command1->autoDefault());
    QVERIFY(!form.Command2->isDefault() && !form.Command2->autoDefault());
}

void Form3ListsTest::clearAsksAndBlanksOnlyOnOk_data()
{
    bothWays("ok", "OK", "Cancel");
}

void Form3ListsTest::clearAsksAndBlanksOnlyOnOk()
{
    QFETCH(bool, ok);

    const QByteArray before = usual + "after 75";
    writeRanking(before);
    fake->answers.push_back(ok ? ui::Answer::Ok : ui::Answer::Cancel);

    Form3& form = openResults(45, 2); // a new entry at place 2, never to be saved here
    QTest::keyClicks(form.Text1, "Kim");
    QTest::mouseClick(form.Command2, Qt::LeftButton);

    QCOMPARE(fake->messages.size(), std::size_t(1));
    const ui::Message& question = fake->messages.front();
    QCOMPARE(question.text, QStringLiteral("成績一覧の名前と時間を消去しますか？"));
    QCOMPARE(question.title, QStringLiteral("確認"));
    QVERIFY(question.icon == ui::Icon::Question);
    QVERIFY(question.buttons == ui::Buttons::OkCancel);
    QVERIFY(!wiring->resultsExist());
    QVERIFY(!form.rankingFile.isOpen());

    const QByteArray expected = ok ? blankRecords(21) + before.mid(21 * 12) : before;
    QCOMPARE(fileBytes().toHex(' '), expected.toHex(' '));
    QCOMPARE(int(Module1::anatakiroku[2][0]), 45);

    Form3& again = openResults(0, 2);
    if (ok) {
        QCOMPARE(captions(again.namae), (QStringList{"", "", "", "", ""}));
        QCOMPARE(captions(again.jikan), (QStringList{"0", "0", "0", "0", "0"}));
    } else {
        QCOMPARE(captions(again.namae), (QStringList{"A", "B", "C", "D", "E"}));
    }
    QCOMPARE(captions(again.jikan1), (QStringList{"45", "0", "0"}));
}

void Form3ListsTest::failedWriteIsReported_data()
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

void Form3ListsTest::failedWriteIsReported()
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
    typeThenSaveOrClear(form, "Ann", clearing);

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

void Form3ListsTest::returnSavesTheEntryIntoTheFileAsItIsNow_data()
{
    QTest::addColumn<QString>("other"); // what another running copy does while the window is open
    QTest::addColumn<QByteArray>("range2");

    QTest::newRow("the other copy saved 45 in the same range")
        << "save" << record("A", 50) + record("Oth", 45) + record("B", 40) + record("Kim", 35) + record("C", 30);
    QTest::newRow("the other copy cleared the lists") << "clear" << record("Kim", 35) + blankRecords(4);
    QTest::newRow("the other copy holds the lock a while")
        << "lock" << record("A", 50) + record("B", 40) + record("Kim", 35) + record("C", 30) + record("D", 20);
}

void Form3ListsTest::returnSavesTheEntryIntoTheFileAsItIsNow()
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
        storage::RankingFile copy(dir->options());
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

QTEST_MAIN(Form3ListsTest)
#include "tst_form3lists.moc"

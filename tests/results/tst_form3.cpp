// SPDX-License-Identifier: GPL-3.0-or-later
// The results window: what it shows at each kind of opening, name entry, 戻る, 初期化 and the
// close box, on a real ranking file in a temporary directory.
#include "rules/module1.h"
#include "support/text.h"
#include "app/windows.h"
#include "results/form3.h"
#include "storage/ranking_file.h"
#include "support/fake_services.h"
#include "support/program_dir.h"
#include "support/ranking_bytes.h"
#include "ui/application.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <memory>

#include <sys/stat.h>

namespace {

using rankingbytes::blankRecords;
using rankingbytes::record;

QByteArray rangeRecords(const QList<int>& scores)
{
    QByteArray bytes;
    for (int p = 0; p < 5; ++p)
        bytes += record(QByteArray(1, char('A' + p)), scores[p]);
    return bytes;
}

// A full 900-byte file with the given scores in range 2 and other ranges filled too.
QByteArray fileWithRange2(const QList<int>& scores)
{
    return rangeRecords({9, 8, 7, 6, 5}) + rangeRecords({19, 18, 17, 16, 15}) + rangeRecords(scores)
           + rangeRecords({29, 28, 27, 26, 25}) + record("r21", 21) + blankRecords(54);
}

QStringList captions(const ui::ControlArray<ui::Label>& array)
{
    QStringList list;
    array.forEach([&list](std::int16_t, ui::Label& label) { list << label.caption(); });
    return list;
}

} // namespace

class Form3Test : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ProgramDir> dir;
    std::unique_ptr<FakeServices> fake;
    std::unique_ptr<app::Windows> wiring;
    const QByteArray usual = fileWithRange2({50, 40, 30, 20, 10}); // five entries in range 2

    QString rankingPath() const { return dir->programFile(); }
    QByteArray fileBytes() const { return rankingbytes::readFile(rankingPath()); }
    void writeRanking(const QByteArray& bytes) { QVERIFY(rankingbytes::writeFile(rankingPath(), bytes)); }
    Form3& openResults(int tensu, int hani)
    {
        Module1::tensu = static_cast<std::int16_t>(tensu);
        Module1::hani = static_cast<std::int16_t>(hani);
        wiring->showResults(false);
        return wiring->form3();
    }

private slots:
    void initTestCase() { ui::initApplication(*qApp); }
    void init();
    void cleanup();

    // Guards against a viewing opening (or a score already turned away) entering a score,
    // showing the name box, or writing the file on 戻る.
    void viewOnlyOpeningEntersNothingAndWritesNothing_data();
    void viewOnlyOpeningEntersNothingAndWritesNothing();

    // Guards against the new entry shown in the wrong row, a wrong place in the prompt, or the
    // name box hidden or without the focus.
    void enteredScoreShowsMarkPromptAndNameBox_data();
    void enteredScoreShowsMarkPromptAndNameBox();

    // Guards against the typed name missing from its row, 戻る or Enter not saving it, or the
    // name stored beyond 10 bytes.
    void typedNameFollowsIntoRowAndIsSavedOnReturn_data();
    void typedNameFollowsIntoRowAndIsSavedOnReturn();

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

    // Guards against the close box saving, or keeping the file so that the next opening fails.
    void closeBoxSavesNothingAndReleasesTheFile();

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

    // Guards against the end of a game not waiting for the window, or an open viewing window
    // keeping its file when a game's window replaces it.
    void gameEndOpensModallyAndSavesOnEnter();
};

void Form3Test::init()
{
    dir = std::make_unique<ProgramDir>();
    QVERIFY(dir->isValid());
    wiring = std::make_unique<app::Windows>(dir->options());
    Module1::reset();
    fake = std::make_unique<FakeServices>();
}

void Form3Test::cleanup()
{
    wiring.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    fake.reset();
}

void Form3Test::viewOnlyOpeningEntersNothingAndWritesNothing_data()
{
    QTest::addColumn<int>("tensu");
    QTest::addColumn<int>("touroku");

    QTest::newRow("opened from the menu") << 0 << 0;
    QTest::newRow("game ended with 0") << 0 << 1;
    QTest::newRow("score already missed the best five") << 40 << 1;
}

void Form3Test::viewOnlyOpeningEntersNothingAndWritesNothing()
{
    QFETCH(int, tensu);
    QFETCH(int, touroku);

    // A record past 21 that any save would blank.
    const QByteArray file = usual.left(21 * 12) + record("r22", 22) + blankRecords(53);
    writeRanking(file);
    Module1::touroku = static_cast<std::int16_t>(touroku);
    Module1::anatakiroku[2][0] = 33;

    Form3& form = openResults(tensu, 2);
    QCOMPARE(form.jikan9->caption(), QStringLiteral(" %1").arg(tensu));
    QVERIFY(!form.Label6->isVisibleTo(&form));
    QVERIFY(!form.Text1->isVisibleTo(&form));
    QCOMPARE(form.focusWidget(), form.Command1);
    QCOMPARE(captions(form.namae), (QStringList{"A", "B", "C", "D", "E"}));
    QCOMPARE(captions(form.jikan), (QStringList{"50", "40", "30", "20", "10"}));
    QCOMPARE(captions(form.jikan1), (QStringList{"33", "0", "0"}));

    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QVERIFY(!wiring->resultsExist());
    QVERIFY(!form.rankingFile.isOpen());
    QCOMPARE(fileBytes(), file);
    QCOMPARE(int(Module1::touroku), touroku);
    QCOMPARE(int(Module1::anatakiroku[2][0]), 33);
    QVERIFY(fake->messages.empty());
}

void Form3Test::enteredScoreShowsMarkPromptAndNameBox_data()
{
    QTest::addColumn<QList<int>>("before");
    QTest::addColumn<int>("tensu");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("names");

    const QString here = QStringLiteral("ここです！");
    QTest::newRow("blank list: place 1") << QList<int>{0, 0, 0, 0, 0} << 30 << 0
                                         << QStringList{here, "A", "B", "C", "D"};
    QTest::newRow("equal to place 2 goes above it") << QList<int>{50, 40, 30, 20, 10} << 40 << 1
                                                    << QStringList{"A", here, "B", "C", "D"};
    QTest::newRow("place 5 drops the old fifth") << QList<int>{50, 40, 30, 20, 10} << 12 << 4
                                                 << QStringList{"A", "B", "C", "D", here};
}

void Form3Test::enteredScoreShowsMarkPromptAndNameBox()
{
    QFETCH(QList<int>, before);
    QFETCH(int, tensu);
    QFETCH(int, row);
    QFETCH(QStringList, names);

    writeRanking(fileWithRange2(before));
    Form3& form = openResults(tensu, 2);

    QCOMPARE(captions(form.namae), names);
    QCOMPARE(form.jikan(static_cast<std::int16_t>(row)).caption(), QString::number(tensu));
    QCOMPARE(form.jikan9->caption(), QStringLiteral(" ") + QString::number(tensu));
    QCOMPARE(form.Label6->caption(), QStringLiteral(" %1番です。名前を入力して下さい。").arg(row + 1));
    QVERIFY(form.Label6->isVisibleTo(&form));
    QVERIFY(form.Text1->isVisibleTo(&form));
    QCOMPARE(form.focusWidget(), form.Text1);
    QCOMPARE(int(Module1::touroku), 0);
    QCOMPARE(int(Module1::anatakiroku[2][0]), tensu);
    QCOMPARE(form.enz0->caption(), QStringLiteral("－５～－１"));
}

void Form3Test::typedNameFollowsIntoRowAndIsSavedOnReturn_data()
{
    QTest::addColumn<QString>("how"); // keys, paste, or an input method's composition and commit
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byEnter");
    QTest::addColumn<QString>("shown"); // in the box and the row while typing
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("shownNext");

    const QString qs = QStringLiteral("??????????");
    const QString notInCodePage = QStringLiteral("😀😀😀😀😀ééééé");
    QTest::newRow("ASCII name, 戻る") << "keys" << "Taro" << false << "Taro" << QByteArray("Taro") << "Taro";
    QTest::newRow("ASCII name, Enter") << "keys" << "Taro" << true << "Taro" << QByteArray("Taro") << "Taro";
    QTest::newRow("12 letters typed, 10 taken")
        << "keys" << "ABCDEFGHIJKL" << true << "ABCDEFGHIJ" << QByteArray("ABCDEFGHIJ") << "ABCDEFGHIJ";
    QTest::newRow("full box takes nothing at the start") << "keys, Home, Z" << "ABCDEFGHIJ" << true << "ABCDEFGHIJ"
                                                         << QByteArray("ABCDEFGHIJ") << "ABCDEFGHIJ";
    QTest::newRow("Enter in the empty box") << "keys" << QString() << true << QString() << QByteArray() << QString();
    QTest::newRow("Japanese name") << "ime" << "やまだ" << true << "やまだ" << QByteArray::fromHex("82e282dc82be")
                                   << "やまだ";
    QTest::newRow("8 characters committed, 5 taken") << "ime" << "やまだ太郎あいう" << true << "やまだ太郎"
                                                     << QByteArray::fromHex("82e282dc82be91be9859") << "やまだ太郎";
    QTest::newRow("odd byte left empty") << "paste" << "Aやまだ太郎" << true << "Aやまだ太"
                                         << QByteArray::fromHex("4182e282dc82be91be") << "Aやまだ太";
    QTest::newRow("pasted line break and controls dropped")
        << "paste" << "AB\nCD\tE\x01" "F" << true << "ABCDEF" << QByteArray("ABCDEF") << "ABCDEF";
    QTest::newRow("combining voiced mark joins its kana") << "ime" << "か\u3099" << true << "が"
                                                          << QByteArray::fromHex("82aa") << "が";
    QTest::newRow("characters stored as ? take a byte each")
        << "paste" << notInCodePage + "é" << true << notInCodePage << QByteArray("??????????") << qs;
}

void Form3Test::typedNameFollowsIntoRowAndIsSavedOnReturn()
{
    QFETCH(QString, how);
    QFETCH(QString, typed);
    QFETCH(bool, byEnter);
    QFETCH(QString, shown);
    QFETCH(QByteArray, field);
    QFETCH(QString, shownNext);

    // First opening ever: no file yet.
    Module1::anatakiroku[1][0] = 7;
    Form3& form = openResults(25, 1);
    QCOMPARE(fileBytes().size(), 0);
    if (typed.isEmpty()) {
        QCOMPARE(form.namae(0).caption(), QStringLiteral("ここです！"));
    } else if (how.startsWith(QLatin1String("keys"))) {
        QTest::keyClicks(form.Text1, typed);
        if (how.endsWith(QLatin1String("Home, Z"))) {
            QTest::keyClick(form.Text1, Qt::Key_Home);
            QTest::keyClick(form.Text1, Qt::Key_Z);
        }
    } else if (how == QLatin1String("paste")) {
        QGuiApplication::clipboard()->setText(typed);
        form.Text1->paste();
    } else {
        QInputMethodEvent composing(typed, {});
        QCoreApplication::sendEvent(form.Text1, &composing);
        QCOMPARE(form.Text1->text(), QString()); // composing text is the input method's until committed
        QInputMethodEvent commit; // the input method hands over the finished text
        commit.setCommitString(typed);
        QCoreApplication::sendEvent(form.Text1, &commit);
    }
    if (!typed.isEmpty()) {
        QCOMPARE(form.Text1->text(), shown);
        QCOMPARE(form.namae(0).caption(), shown);
    }

    if (byEnter)
        QTest::keyClick(form.Text1, Qt::Key_Return);
    else
        QTest::mouseClick(form.Command1, Qt::LeftButton);

    QVERIFY(!wiring->resultsExist());
    QVERIFY(!form.rankingFile.isOpen());
    QVERIFY(fake->messages.empty());
    const QByteArray expected = blankRecords(5) + record(field, 25) + blankRecords(69);
    QCOMPARE(fileBytes().toHex(' '), expected.toHex(' '));

    // The next opening shows the saved entry and the run's scores.
    Form3& again = openResults(0, 1);
    QCOMPARE(again.namae(0).caption(), shownNext);
    QCOMPARE(captions(again.jikan), (QStringList{"25", "0", "0", "0", "0"}));
    QCOMPARE(captions(again.jikan1), (QStringList{"25", "7", "0"}));
}

void Form3Test::showsListsOfTheCurrentRangeOnly_data()
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

void Form3Test::showsListsOfTheCurrentRangeOnly()
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

void Form3Test::rowsAreCopiesOfElementZero30PixelsApart_data()
{
    QTest::addColumn<QString>("array");
    QTest::addColumn<int>("rows");

    const std::pair<const char*, int> arrays[] = {{"jyun", 5}, {"namae", 5}, {"jikan", 5}, {"jyun1", 3}, {"jikan1", 3}};
    for (const auto& [array, rows] : arrays)
        QTest::newRow(array) << QString::fromLatin1(array) << rows;
}

void Form3Test::rowsAreCopiesOfElementZero30PixelsApart()
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

void Form3Test::controlsStayApartInsideTheWindow()
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

void Form3Test::keyboardOrderIsNameBoxThenBackThenClear()
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

void Form3Test::clearAsksAndBlanksOnlyOnOk_data()
{
    QTest::addColumn<bool>("ok");
    QTest::newRow("Cancel") << false;
    QTest::newRow("OK") << true;
}

void Form3Test::clearAsksAndBlanksOnlyOnOk()
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

void Form3Test::closeBoxSavesNothingAndReleasesTheFile()
{
    writeRanking(usual);
    Form3& form = openResults(35, 2);
    QVERIFY(form.rankingFile.isOpen());
    QTest::keyClicks(form.Text1, "Lee");

    form.close(); // the frame's close box
    QVERIFY(!wiring->resultsExist());
    QVERIFY(!form.rankingFile.isOpen());
    QCOMPARE(fileBytes(), usual);
    QVERIFY(fake->messages.empty());

    Form3& again = openResults(0, 2);
    QVERIFY(again.rankingFile.isOpen());
    QCOMPARE(captions(again.namae), (QStringList{"A", "B", "C", "D", "E"}));
}

void Form3Test::failedWriteIsReported_data()
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

void Form3Test::failedWriteIsReported()
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

void Form3Test::returnSavesTheEntryIntoTheFileAsItIsNow_data()
{
    QTest::addColumn<QString>("other"); // what another running copy does while the window is open
    QTest::addColumn<QByteArray>("range2");

    QTest::newRow("the other copy saved 45 in the same range")
        << "save" << record("A", 50) + record("Oth", 45) + record("B", 40) + record("Kim", 35) + record("C", 30);
    QTest::newRow("the other copy cleared the lists") << "clear" << record("Kim", 35) + blankRecords(4);
    QTest::newRow("the other copy holds the lock a while")
        << "lock" << record("A", 50) + record("B", 40) + record("Kim", 35) + record("C", 30) + record("D", 20);
}

void Form3Test::returnSavesTheEntryIntoTheFileAsItIsNow()
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

void Form3Test::gameEndOpensModallyAndSavesOnEnter()
{
    Module1::tensu = 0;
    wiring->showResults(false);
    QPointer<Form3> viewing = &wiring->form3();
    QVERIFY(viewing->rankingFile.isOpen());

    bool viewingReleased = false;
    fake->onModal = [&](ui::Form& shown) {
        viewingReleased = viewing && !viewing->rankingFile.isOpen();
        auto& results = static_cast<Form3&>(shown);
        QTest::keyClicks(results.Text1, "Winner");
        QTest::keyClick(results.Text1, Qt::Key_Return);
    };
    Module1::tensu = 48;
    wiring->showResults(true);

    QCOMPARE(fake->modalForms.size(), std::size_t(1));
    QCOMPARE(fake->modalForms.front(), QStringLiteral("Form3"));
    QVERIFY(viewingReleased);
    QVERIFY(!wiring->resultsExist());
    QCOMPARE(fileBytes().left(12).toHex(' '), record("Winner", 48).toHex(' '));
    QCOMPARE(fileBytes().size(), 900);
}

QTEST_MAIN(Form3Test)
#include "tst_form3.moc"

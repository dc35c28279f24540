// SPDX-License-Identifier: GPL-3.0-or-later
// The results window's lists on a real ranking file in a temporary directory: the range shown,
// the rows made at run time, where the controls are and their keyboard order, and 初期化.
#include "rules/module1.h"
#include "support/ranking_bytes.h"
#include "support/results_fixture.h"
#include "support/rows.h"

#include <QApplication>
#include <QTest>

using namespace resultsfixture;
using rankingbytes::blankRecords;

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

QTEST_MAIN(Form3ListsTest)
#include "tst_form3lists.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The game window played through a game: the window before Start, the questions, the
// countdown, judging the answers, the total and the end of a game.
#include "rules/module1.h"
#include "app/windows.h"
#include "game/form1.h"
#include "results/form3.h"
#include "support/game_fixture.h"
#include "support/game_probes.h"
#include "support/ranking_bytes.h"
#include "support/real_modals.h"
#include "support/rows.h"

#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace Module1;
using namespace gameprobes;

class Form1PlayTest : public QObject {
    Q_OBJECT

private slots:
    void loadLeavesTheWindowWaiting();
    void startSetsTheFirstQuestion();
    void startMidGameBeginsAgain();
    void rangeRowsFillTheTable_data();
    void rangeRowsFillTheTable();
    void countdownShowsTwoCharacters();
    void answersAreJudgedByKind_data();
    void answersAreJudgedByKind();
    void rightAnswerAtZeroScoresNothing();
    void fiveFastAnswersScoreFifty_data();
    void fiveFastAnswersScoreFifty();
    void gameEndsAfterFiveQuestions_data();
    void gameEndsAfterFiveQuestions();
    void gameEndUnderClearQuestionCancelsIt();
};

// Guards against a game being playable, or the range wrong, before Start.
void Form1PlayTest::loadLeavesTheWindowWaiting()
{
    GameFixture game;
    Form1& f = game.form();
    QCOMPARE(game.services().randomizeCalls, 1);
    QVERIFY(!f.Timer1->isRunning());
    QCOMPARE(f.monbang->caption(), QStringLiteral("番  号"));
    QCOMPARE(f.tokuten->caption(), QStringLiteral("点"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral("得点"));
    QCOMPARE(row(f, 0), QStringList(5));
    QCOMPARE(row(f, 5), QStringList(5));
    QCOMPARE(marks(f), QStringList(5));
    for (std::int16_t i = 0; i < 5; ++i) {
        QVERIFY(!f.kotae(i).isEnabled());
        QCOMPARE(f.bango(i).caption(), QString::number(i + 1));
    }
    QVERIFY(f.kotae(3).isHidden());
    QCOMPARE(checkedRanges(f), QList<int>{0});
    QCOMPARE(hani, 0);
    QCOMPARE(f.Command3->text(), QStringLiteral("ｘの値：－２～２"));
    QCOMPARE(std::ranges::count(f.model.xatai[3], 0), 5);
}

// Guards against Start leaving buttons disabled, the timer stopped or the total unset.
void Form1PlayTest::startSetsTheFirstQuestion()
{
    GameFixture game;
    touroku = 1;
    Form1& f = start(game, 1);
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 1問"));
    QCOMPARE(f.tokuten->caption(), QStringLiteral("10"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 0"));
    QCOMPARE(f.Timer1->interval(), 2000);
    QVERIFY(f.Timer1->isRunning());
    QCOMPARE(touroku, 0);
    QCOMPARE(f.model.kankei, 0);
    QCOMPARE(row(f, 0), (QStringList{"-2", "-1", " 0", " 1", " 2"}));
    QCOMPARE(row(f, 5), (QStringList{"-4", "-2", " 0", " 2", " 4"}));
    for (std::int16_t i : {0, 1, 2, 4})
        QVERIFY(f.kotae(i).isEnabled() && f.kotae(i).isVisibleTo(&f));
    QVERIFY(f.kotae(3).isHidden());
}

// Guards against a restarted game keeping the old marks, total or question number, and against the
// random range's x values being filled in before that range was asked for.
void Form1PlayTest::startMidGameBeginsAgain()
{
    GameFixture game;
    Form1& f = start(game, 4);
    f.kotae_Click(0);
    f.kotae_Click(1);
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 3問"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 10"));
    QCOMPARE(std::ranges::count(f.model.xatai[3], 0), 5);
    f.Command1_Click();
    QCOMPARE(marks(f), QStringList(5));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 0"));
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 1問"));
    QCOMPARE(f.model.mondaisu, 1);
}

void Form1PlayTest::rangeRowsFillTheTable_data()
{
    QTest::addColumn<int>("range");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("xs");
    QTest::addColumn<QStringList>("ys");
    QTest::newRow("1 to 5, inverse") << 1 << 1 << QStringList{" 1", " 2", " 3", " 4", " 5"}
                                     << QStringList{" 6", " 3", " 2", " 1.5", " 1.2"};
    QTest::newRow("-5 to -1, linear") << 2 << 2 << QStringList{"-5", "-4", "-3", "-2", "-1"}
                                      << QStringList{"-9", "-7", "-5", "-3", "-1"};
    QTest::newRow("-2 to 2, inverse") << 0 << 1 << QStringList{"-2", "-1", " 0", " 1", " 2"}
                                      << QStringList{"-3", "-6", " ×", " 6", " 3"};
    QTest::newRow("random, inverse") << 3 << 1 << QStringList{"-4", "-1", " 3", " 5", " 6"}
                                     << QStringList{"-1.5", "-6", " 2", " 1.2", " 1"};
    QTest::newRow("random, square") << 3 << 3 << QStringList{"-7", "-4", "-1", " 0", " 3"}
                                    << QStringList{" 49", " 16", " 1", " 0", " 9"};
}

// Guards against the table ignoring the range, or drawing x values for the fixed inverse row.
void Form1PlayTest::rangeRowsFillTheTable()
{
    QFETCH(int, range);
    QFETCH(int, kind);
    QFETCH(QStringList, xs);
    QFETCH(QStringList, ys);
    GameFixture game;
    hani = static_cast<std::int16_t>(range);
    game.scriptQuestionOfKind(kind);
    if (range == 3 && kind != 1)
        game.services().draws.insert(game.services().draws.end(), {0.0, 0.9, 0.9, 0.0, 0.9});
    Form1& f = start(game, 0);
    QCOMPARE(row(f, 0), xs);
    QCOMPARE(row(f, 5), ys);
    QVERIFY(game.services().draws.empty());
}

// Guards against the points label losing its blank or skipping a step.
void Form1PlayTest::countdownShowsTwoCharacters()
{
    GameFixture game;
    Form1& f = start(game, 1);
    QStringList shown{f.tokuten->caption()};
    for (int i = 0; i < 10; ++i) {
        f.Timer1_Timer();
        shown << f.tokuten->caption();
    }
    QCOMPARE(shown, (QStringList{"10", " 9", " 8", " 7", " 6", " 5", " 4", " 3", " 2", " 1", " 0"}));
    QCOMPARE(marks(f), QStringList(5));
    QCOMPARE(game.services().beeps, 0);
}

void Form1PlayTest::answersAreJudgedByKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("button"); // -1: no answer, the countdown runs out instead
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QString>("total");
    QTest::newRow("proportion, right") << 0 << 0 << "○"
                                       << " 10";
    QTest::newRow("proportion, linear button") << 0 << 2 << "×"
                                               << " 0";
    QTest::newRow("proportion, time-out") << 0 << -1 << "×"
                                          << " 0";
    QTest::newRow("inverse, right") << 1 << 1 << "○"
                                    << " 10";
    QTest::newRow("inverse, last button") << 1 << 4 << "×"
                                          << " 0";
    QTest::newRow("linear, right") << 2 << 2 << "○"
                                   << " 10";
    QTest::newRow("linear, proportion button") << 2 << 0 << "×"
                                               << " 0";
    QTest::newRow("square, last button") << 3 << 4 << "○"
                                         << " 10";
    QTest::newRow("square, proportion button") << 3 << 0 << "×"
                                               << " 0";
    QTest::newRow("quadratic, last button") << 4 << 4 << "○"
                                            << " 10";
    QTest::newRow("quadratic, linear button") << 4 << 2 << "×"
                                              << " 0";
}

// Guards against wrong judging, a total changed by a wrong answer, a time-out that comes a tick
// early or late, or no move to the next question.
void Form1PlayTest::answersAreJudgedByKind()
{
    QFETCH(int, kind);
    QFETCH(int, button);
    QFETCH(QString, mark);
    QFETCH(QString, total);
    GameFixture game;
    game.scriptQuestionOfKind(kind);
    Form1& f = start(game, 1);
    QCOMPARE(f.model.kankei, kind);
    if (button < 0)
        tick(f, 11);
    else
        f.kotae_Click(static_cast<std::int16_t>(button));
    QCOMPARE(f.sikiyo(0).caption(), mark);
    QCOMPARE(f.tokutenyo->text(), total);
    QCOMPARE(game.services().beeps, 1);
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 2問"));
    QCOMPARE(f.tokuten->caption(), QStringLiteral("10"));
    QVERIFY(f.Timer1->isRunning());
}

// Guards against points taken from the counter instead of the label, or a mark missing at 0.
void Form1PlayTest::rightAnswerAtZeroScoresNothing()
{
    GameFixture game;
    Form1& f = start(game, 4);
    tick(f, 3);
    f.kotae_Click(0);
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 7"));
    tick(f, 10);
    QCOMPARE(f.tokuten->caption(), QStringLiteral(" 0"));
    f.kotae_Click(0);
    QCOMPARE(f.sikiyo(1).caption(), QStringLiteral("○"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 7"));
    f.tokuten->setCaption(QStringLiteral(" 4")); // the counter behind it still says 10
    f.kotae_Click(0);
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 11"));
}

void Form1PlayTest::fiveFastAnswersScoreFifty_data()
{
    bothWays("viewingLists", "lists open for viewing", "lists closed");
}

// Guards against a wrong total or tensu at the end of a perfect game, and against the score being
// lost when the lists were open for viewing as the game ended.
void Form1PlayTest::fiveFastAnswersScoreFifty()
{
    QFETCH(bool, viewingLists);
    GameFixture game;
    Form1& f = start(game, 5);
    ui::Form* viewing = nullptr;
    if (viewingLists) {
        f.m1c_Click();
        QVERIFY(game.windows().resultsExist());
        viewing = &game.windows().form3();
    }
    ui::Form* atEnd = nullptr;
    QString scoreShown;
    game.services().onModal = [&](ui::Form& results) {
        atEnd = &results;
        scoreShown = static_cast<Form3&>(results).jikan9->caption();
        if (viewing)
            QVERIFY(viewing->isUnloaded());
        results.Unload();
    };
    for (int i = 0; i < 5; ++i)
        f.kotae_Click(0);
    QCOMPARE(game.services().modalForms, QStringList{QStringLiteral("Form3")});
    QCOMPARE(scoreShown, QStringLiteral(" 50")); // the score went to the window that opened
    if (viewing)
        QVERIFY(atEnd != viewing);
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 50"));
    QCOMPARE(tensu, 50);
    QCOMPARE(marks(f), QStringList(5, QStringLiteral("○")));
}

void Form1PlayTest::gameEndsAfterFiveQuestions_data()
{
    bothWays("byAnswer", "last question answered", "last question timed out");
}

// Guards against the restart message coming before the results or after a time-out, buttons left
// usable, or a game that runs past five questions.
void Form1PlayTest::gameEndsAfterFiveQuestions()
{
    QFETCH(bool, byAnswer);
    GameFixture game;
    Form1& f = start(game, 5);
    int restartsWhileResultsShowed = -1;
    bool buttonsDisabledDuringResults = false;
    std::int16_t tensuDuringResults = -1;
    game.services().onModal = [&](ui::Form& results) {
        restartsWhileResultsShowed = game.services().countTitled(restartTitle);
        buttonsDisabledDuringResults = !f.kotae(0).isEnabled() && !f.kotae(4).isEnabled();
        tensuDuringResults = tensu;
        results.Unload();
    };
    for (int q = 0; q < 5; ++q) {
        QVERIFY(game.services().modalForms.empty());
        if (byAnswer)
            f.kotae_Click(q < 4 ? 1 : 0); // four wrong, the last right
        else
            tick(f, 11);
    }
    QCOMPARE(game.services().modalForms, QStringList{QStringLiteral("Form3")});
    QCOMPARE(restartsWhileResultsShowed, 0);
    QVERIFY(buttonsDisabledDuringResults);
    QCOMPARE(tensuDuringResults, byAnswer ? 10 : 0);
    QCOMPARE(marks(f), (QStringList{"×", "×", "×", "×", byAnswer ? "○" : "×"}));
    QCOMPARE(f.tokuten->caption(), byAnswer ? QStringLiteral("10") : QStringLiteral(" 0"));
    QCOMPARE(game.services().countTitled(restartTitle), byAnswer ? 1 : 0);
    if (byAnswer) {
        const ui::Message& last = game.services().messages.back();
        QCOMPARE(last.text, QStringLiteral("再スタートは，\r「スタート」ボタンをクリック!!"));
        QCOMPARE(last.icon, ui::Icon::Exclamation);
        QCOMPARE(last.buttons, ui::Buttons::Ok);
    }
    QVERIFY(!f.Timer1->isRunning());
    for (std::int16_t i = 0; i < 5; ++i)
        QVERIFY(!f.kotae(i).isEnabled());
}

// Guards against the game's end destroying the viewing results window, and its message box,
// while 初期化's question waits in a real nested event loop: the question ends as キャンセル,
// the window goes, and the game's own results window takes the score.
void Form1PlayTest::gameEndUnderClearQuestionCancelsIt()
{
    GameFixture game;
    Form1& f = start(game, 5);
    for (int i = 0; i < 4; ++i)
        f.kotae_Click(0);
    f.m1c_Click();
    GameFixture::settle();
    QPointer<Form3> viewing = &game.windows().form3();
    QStringList asked;
    bool clearQuestionClosed = false;
    RealModals modals([&](QWidget& modal) {
        if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
            asked << box->windowTitle();
            tick(f, 11); // question 5 times out while the question waits
            clearQuestionClosed = !box->isVisible();
            if (box->isVisible()) // as a pupil would, later
                QTimer::singleShot(0, box->button(QMessageBox::Ok), &QAbstractButton::click);
        } else if (auto* results = qobject_cast<Form3*>(&modal)) {
            results->Text1->setText(QStringLiteral("NEW"));
            QTest::keyClick(results->Text1, Qt::Key_Return);
        }
    });
    viewing->Command2->click();
    GameFixture::settle();
    QCOMPARE(asked, QStringList{QStringLiteral("確認")}); // a game that times out asks nothing more
    QVERIFY(clearQuestionClosed);
    QVERIFY(viewing.isNull());
    QCOMPARE(GameFixture::openWindows<Form3>(), 0);
    // 40 points in first place, not blanked
    QCOMPARE(rankingbytes::readFile(game.rankingPath()).left(12), rankingbytes::record("NEW", 40));
}

QTEST_MAIN(Form1PlayTest)
#include "tst_form1play.moc"

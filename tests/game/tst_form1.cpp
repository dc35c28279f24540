// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/module1.h"
#include "rules/ranges.h"
#include "app/windows.h"
#include "game/form1.h"
#include "help/form2.h"
#include "results/form3.h"
#include "support/game_fixture.h"
#include "support/ranking_bytes.h"
#include "support/real_modals.h"

#include <QAction>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace Module1;

namespace {

const QString startTitle = QStringLiteral("スタート");
const QString restartTitle = QStringLiteral("再スタート");
const QString rangeTitle = QStringLiteral("ｘの値の変更");

QStringList row(Form1& f, int first)
{
    QStringList texts;
    for (int i = first; i < first + 5; ++i)
        texts << f.mondai(static_cast<std::int16_t>(i)).caption();
    return texts;
}

QStringList marks(Form1& f)
{
    QStringList texts;
    for (std::int16_t i = 0; i < 5; ++i)
        texts << f.sikiyo(i).caption();
    return texts;
}

QList<int> checkedRanges(Form1& f)
{
    QList<int> checked;
    for (std::int16_t i = 0; i < 4; ++i)
        if (f.en(i).isChecked())
            checked << i;
    return checked;
}

void tick(Form1& f, int times)
{
    for (int i = 0; i < times; ++i)
        f.Timer1_Timer();
}

// Starts a game whose coming questions, after any draws already scripted, are `questions` proportions.
Form1& start(GameFixture& game, int questions)
{
    game.scriptProportionalQuestions(questions);
    game.form().Command1_Click();
    return game.form();
}

} // namespace

class Form1Test : public QObject {
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
    void rangeChangeMidQuestion_data();
    void rangeChangeMidQuestion();
    void rangeButtonAndMenuAgree();
    void startMessageOnFirstDisplayOnly();
    void startMessageAfterAnotherWindowOnly();
    void ticksGoOnWhileTheStartMessageShows();
    void menuAndButtonsReachTheSameHandlers();
    void closeBoxEndsTheProgram();
};

// Guards against a game being playable, or the range wrong, before Start.
void Form1Test::loadLeavesTheWindowWaiting()
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
void Form1Test::startSetsTheFirstQuestion()
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
void Form1Test::startMidGameBeginsAgain()
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

void Form1Test::rangeRowsFillTheTable_data()
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
void Form1Test::rangeRowsFillTheTable()
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
void Form1Test::countdownShowsTwoCharacters()
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

void Form1Test::answersAreJudgedByKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("button"); // -1: no answer, the countdown runs out instead
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QString>("total");
    QTest::newRow("proportion, right") << 0 << 0 << "○" << " 10";
    QTest::newRow("proportion, linear button") << 0 << 2 << "×" << " 0";
    QTest::newRow("proportion, time-out") << 0 << -1 << "×" << " 0";
    QTest::newRow("inverse, right") << 1 << 1 << "○" << " 10";
    QTest::newRow("inverse, last button") << 1 << 4 << "×" << " 0";
    QTest::newRow("linear, right") << 2 << 2 << "○" << " 10";
    QTest::newRow("linear, proportion button") << 2 << 0 << "×" << " 0";
    QTest::newRow("square, last button") << 3 << 4 << "○" << " 10";
    QTest::newRow("square, proportion button") << 3 << 0 << "×" << " 0";
    QTest::newRow("quadratic, last button") << 4 << 4 << "○" << " 10";
    QTest::newRow("quadratic, linear button") << 4 << 2 << "×" << " 0";
}

// Guards against wrong judging, a total changed by a wrong answer, a time-out that comes a tick
// early or late, or no move to the next question.
void Form1Test::answersAreJudgedByKind()
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
void Form1Test::rightAnswerAtZeroScoresNothing()
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

void Form1Test::fiveFastAnswersScoreFifty_data()
{
    QTest::addColumn<bool>("viewingLists");
    QTest::newRow("lists closed") << false;
    QTest::newRow("lists open for viewing") << true;
}

// Guards against a wrong total or tensu at the end of a perfect game, and against the score being
// lost when the lists were open for viewing as the game ended.
void Form1Test::fiveFastAnswersScoreFifty()
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

void Form1Test::gameEndsAfterFiveQuestions_data()
{
    QTest::addColumn<bool>("byAnswer");
    QTest::newRow("last question answered") << true;
    QTest::newRow("last question timed out") << false;
}

// Guards against the restart message coming before the results or after a time-out, buttons left
// usable, or a game that runs past five questions.
void Form1Test::gameEndsAfterFiveQuestions()
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
void Form1Test::gameEndUnderClearQuestionCancelsIt()
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

void Form1Test::rangeChangeMidQuestion_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("range button") << true;
    QTest::newRow("range menu") << false;
}

// Guards against the range button leaving the countdown running or a frozen question losing its
// points, the range menu stopping or restarting a running countdown, and a range change redrawing
// the question on screen instead of the next one.
void Form1Test::rangeChangeMidQuestion()
{
    QFETCH(bool, byButton);
    GameFixture game;
    Form1& f = start(game, 2);
    tick(f, 4);
    if (byButton)
        f.Command3_Click();
    else
        f.en(1).trigger();
    QCOMPARE(f.Timer1->isRunning(), !byButton);
    QCOMPARE(f.tokuten->caption(), QStringLiteral(" 6"));
    QVERIFY(f.kotae(0).isEnabled());
    QCOMPARE(row(f, 0), (QStringList{"-2", "-1", " 0", " 1", " 2"}));
    if (!byButton)
        tick(f, 1); // the menu's countdown goes on from 6, the button's stays frozen
    f.kotae_Click(0);
    QCOMPARE(f.tokutenyo->text(), byButton ? QStringLiteral(" 6") : QStringLiteral(" 5"));
    QVERIFY(f.Timer1->isRunning());
    QCOMPARE(row(f, 0), (QStringList{" 1", " 2", " 3", " 4", " 5"}));
    QCOMPARE(row(f, 5), (QStringList{" 2", " 4", " 6", " 8", " 10"}));
}

// Guards against the range button skipping a range, a range message missing or naming the wrong
// range, a message or caption change when the menu picks the range already chosen, and the check
// mark and the range button drifting apart.
void Form1Test::rangeButtonAndMenuAgree()
{
    GameFixture game;
    Form1& f = game.form();
    const QStringList names{"－２～２", "１～５", "－５～－１", "ランダム"};
    int range = 0;
    int messages = 0;
    // -1 clicks the range button; 0 to 3 pick that entry of the menu.
    for (int step : {0, -1, -1, -1, -1, -1, 3, -1, 3, 0, -1, 2, 2, -1, 1, -1, -1}) {
        const int before = range;
        if (step < 0) {
            f.Command3_Click();
            range = nextRange(static_cast<std::int16_t>(range));
        } else {
            f.en(static_cast<std::int16_t>(step)).trigger();
            range = step;
        }
        QCOMPARE(hani, range);
        QCOMPARE(checkedRanges(f), QList<int>{range});
        QCOMPARE(f.Command3->text(), QStringLiteral("ｘの値：") + names[range]);
        if (range != before) {
            ++messages;
            const ui::Message& m = game.services().messages.back();
            QCOMPARE(m.title, rangeTitle);
            QCOMPARE(m.text, QStringLiteral("ｘの値を ") + names[range]
                                 + QStringLiteral(" の範囲にします。\r「スタート」ボタンをクリックしてください。"));
            QCOMPARE(m.icon, ui::Icon::Exclamation);
        }
        QCOMPARE(game.services().countTitled(rangeTitle), messages);
    }
}

// Guards against the start message missing at start-up or coming back when a message box closes.
void Form1Test::startMessageOnFirstDisplayOnly()
{
    GameFixture game;
    Form1& f = game.form();
    QCOMPARE(game.services().countTitled(startTitle), 1);
    const ui::Message& m = game.services().messages.front();
    QCOMPARE(m.text, QStringLiteral("「スタート」ボタンをクリックすると，始まります。"));
    QCOMPARE(m.icon, ui::Icon::Exclamation);
    QCOMPARE(m.buttons, ui::Buttons::Ok);

    // The window system activates the game window again as each message box closes,
    // and when the player comes back from another application.
    for (int i = 0; i < 3; ++i) {
        f.windowActivated();
        GameFixture::settle();
    }
    f.Command3_Click();
    f.windowActivated();
    GameFixture::settle();
    QCOMPARE(game.services().countTitled(startTitle), 1);
}

// Guards against the start message not coming back after the help or results window.
void Form1Test::startMessageAfterAnotherWindowOnly()
{
    GameFixture game;
    Form1& f = game.form();
    f.helpyo_Click();
    game.windows().form2().windowActivated();
    GameFixture::settle();
    game.windows().form2().Command1_Click();
    f.windowActivated(); // what the window system does when 戻る brings the game window up
    GameFixture::settle();
    QCOMPARE(game.services().countTitled(startTitle), 2);
    f.windowActivated();
    GameFixture::settle();
    QCOMPARE(game.services().countTitled(startTitle), 2);
}

// Guards against the start message stopping or resetting a running countdown.
void Form1Test::ticksGoOnWhileTheStartMessageShows()
{
    GameFixture game;
    Form1& f = start(game, 1);
    tick(f, 1);
    QString shownDuringMessage;
    game.services().onMessage = [&](const ui::Message&) {
        f.Timer1_Timer();
        shownDuringMessage = f.tokuten->caption();
    };
    game.windows().form2().Show();
    game.windows().form2().windowActivated();
    f.windowActivated();
    GameFixture::settle();
    QCOMPARE(game.services().countTitled(startTitle), 2);
    QCOMPARE(shownDuringMessage, QStringLiteral(" 8"));
    QVERIFY(f.Timer1->isRunning());
}

// Guards against a menu entry doing something other than its button.
void Form1Test::menuAndButtonsReachTheSameHandlers()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(3);
    f.m1a->trigger();
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 1問"));
    f.kotae_Click(0);
    f.m1a->trigger();
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 1問"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 0"));
    f.m1d->trigger();
    QVERIFY(game.services().ended);
}

// Guards against the close box leaving the program running without its game window.
void Form1Test::closeBoxEndsTheProgram()
{
    GameFixture game;
    game.form().close();
    QVERIFY(game.services().ended);
}

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"

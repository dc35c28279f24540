#include "rules/module1.h"
#include "windows/registry.h"
#include "game/form1.h"
#include "help/form2.h"
#include "results/form3.h"
#include "support/game_fixture.h"

#include <QAction>
#include <QApplication>
#include <QTest>

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

int checkedRange(Form1& f)
{
    int checked = -1;
    int count = 0;
    for (std::int16_t i = 0; i < 4; ++i) {
        if (f.en(i).isChecked()) {
            checked = i;
            ++count;
        }
    }
    return count == 1 ? checked : -1;
}

void tick(Form1& f, int times)
{
    for (int i = 0; i < times; ++i)
        f.Timer1_Timer();
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
    void randomRangeRowStaysZeroUntilAsked();
    void countdownShowsTwoCharacters();
    void tickAfterZeroIsATimeOut();
    void answersAreJudgedByKind_data();
    void answersAreJudgedByKind();
    void rightAnswerAtZeroScoresNothing();
    void fiveFastAnswersScoreFifty();
    void endByAnswerAsksForRestartAfterResults();
    void endByTimeOutAsksNothing();
    void viewingWindowIsReplacedAtGameEnd();
    void rangeButtonFreezesTheQuestion();
    void rangeButtonCyclesWithAMessage();
    void rangeMenuOnlyReportsAChange();
    void rangeMenuKeepsTheCountdown();
    void checkMarkAlwaysMatchesTheButton();
    void newRangeAppliesFromTheNextQuestion();
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
    QCOMPARE(checkedRange(f), 0);
    QCOMPARE(hani, 0);
    QCOMPARE(f.Command3->text(), QStringLiteral("ｘの値：－２～２"));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(f.xatai[3][i], 0);
}

// Guards against Start leaving buttons disabled, the timer stopped or the total unset.
void Form1Test::startSetsTheFirstQuestion()
{
    GameFixture game;
    Form1& f = game.form();
    touroku = 1;
    game.scriptProportionalQuestions(1);
    f.Command1_Click();
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 1問"));
    QCOMPARE(f.tokuten->caption(), QStringLiteral("10"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 0"));
    QCOMPARE(f.Timer1->interval(), 2000);
    QVERIFY(f.Timer1->isRunning());
    QCOMPARE(touroku, 0);
    QCOMPARE(f.kankei, 0);
    QCOMPARE(row(f, 0), (QStringList{"-2", "-1", " 0", " 1", " 2"}));
    QCOMPARE(row(f, 5), (QStringList{"-4", "-2", " 0", " 2", " 4"}));
    for (std::int16_t i : {0, 1, 2, 4})
        QVERIFY(f.kotae(i).isEnabled() && f.kotae(i).isVisibleTo(&f));
    QVERIFY(f.kotae(3).isHidden());
}

// Guards against a restarted game keeping the old marks, total or question number.
void Form1Test::startMidGameBeginsAgain()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(4);
    f.Command1_Click();
    f.kotae_Click(0);
    f.kotae_Click(1);
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 3問"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 10"));
    f.Command1_Click();
    QCOMPARE(marks(f), QStringList(5));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 0"));
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 1問"));
    QCOMPARE(f.mondaisu, 1);
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
    Form1& f = game.form();
    hani = static_cast<std::int16_t>(range);
    game.scriptQuestionOfKind(kind);
    if (range == 3 && kind != 1)
        game.services().draws.insert(game.services().draws.end(), {0.0, 0.9, 0.9, 0.0, 0.9});
    f.Command1_Click();
    QCOMPARE(row(f, 0), xs);
    QCOMPARE(row(f, 5), ys);
    QVERIFY(game.services().draws.empty());
}

// Guards against the random range using x values before any were drawn for it.
void Form1Test::randomRangeRowStaysZeroUntilAsked()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(2);
    f.Command1_Click();
    f.kotae_Click(0);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(f.xatai[3][i], 0);
}

// Guards against the points label losing its blank or skipping a step.
void Form1Test::countdownShowsTwoCharacters()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(1);
    f.Command1_Click();
    QStringList shown{f.tokuten->caption()};
    for (int i = 0; i < 10; ++i) {
        f.Timer1_Timer();
        shown << f.tokuten->caption();
    }
    QCOMPARE(shown, (QStringList{"10", " 9", " 8", " 7", " 6", " 5", " 4", " 3", " 2", " 1", " 0"}));
    QCOMPARE(marks(f), QStringList(5));
    QCOMPARE(game.services().beeps, 0);
}

// Guards against a time-out that comes a tick early or late, or fails to move on.
void Form1Test::tickAfterZeroIsATimeOut()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(2);
    f.Command1_Click();
    tick(f, 11);
    QCOMPARE(f.sikiyo(0).caption(), QStringLiteral("×"));
    QCOMPARE(game.services().beeps, 1);
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 2問"));
    QCOMPARE(f.tokuten->caption(), QStringLiteral("10"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 0"));
    QVERIFY(f.Timer1->isRunning());
}

void Form1Test::answersAreJudgedByKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QString>("total");
    QTest::newRow("proportion, right") << 0 << 0 << "○" << " 10";
    QTest::newRow("proportion, linear button") << 0 << 2 << "×" << " 0";
    QTest::newRow("inverse, right") << 1 << 1 << "○" << " 10";
    QTest::newRow("inverse, last button") << 1 << 4 << "×" << " 0";
    QTest::newRow("linear, right") << 2 << 2 << "○" << " 10";
    QTest::newRow("linear, proportion button") << 2 << 0 << "×" << " 0";
    QTest::newRow("square, last button") << 3 << 4 << "○" << " 10";
    QTest::newRow("square, proportion button") << 3 << 0 << "×" << " 0";
    QTest::newRow("quadratic, last button") << 4 << 4 << "○" << " 10";
    QTest::newRow("quadratic, linear button") << 4 << 2 << "×" << " 0";
}

// Guards against wrong judging, a total changed by a wrong answer, or no move to the next question.
void Form1Test::answersAreJudgedByKind()
{
    QFETCH(int, kind);
    QFETCH(int, button);
    QFETCH(QString, mark);
    QFETCH(QString, total);
    GameFixture game;
    Form1& f = game.form();
    game.scriptQuestionOfKind(kind);
    game.scriptProportionalQuestions(1);
    f.Command1_Click();
    QCOMPARE(f.kankei, kind);
    f.kotae_Click(static_cast<std::int16_t>(button));
    QCOMPARE(f.sikiyo(0).caption(), mark);
    QCOMPARE(f.tokutenyo->text(), total);
    QCOMPARE(game.services().beeps, 1);
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 2問"));
    QCOMPARE(f.tokuten->caption(), QStringLiteral("10"));
}

// Guards against points taken from the counter instead of the label, or a mark missing at 0.
void Form1Test::rightAnswerAtZeroScoresNothing()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(3);
    f.Command1_Click();
    tick(f, 3);
    f.kotae_Click(0);
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 7"));
    tick(f, 10);
    QCOMPARE(f.tokuten->caption(), QStringLiteral(" 0"));
    f.kotae_Click(0);
    QCOMPARE(f.sikiyo(1).caption(), QStringLiteral("○"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 7"));
}

// Guards against a wrong total or tensu at the end of a perfect game.
void Form1Test::fiveFastAnswersScoreFifty()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(5);
    f.Command1_Click();
    for (int i = 0; i < 5; ++i)
        f.kotae_Click(0);
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 50"));
    QCOMPARE(tensu, 50);
    QCOMPARE(marks(f), QStringList(5, QStringLiteral("○")));
}

// Guards against the restart message coming before the results, or buttons left usable.
void Form1Test::endByAnswerAsksForRestartAfterResults()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(5);
    f.Command1_Click();
    for (int i = 0; i < 4; ++i)
        f.kotae_Click(1);
    QVERIFY(game.services().modalForms.empty());

    int restartsWhileResultsShowed = -1;
    bool buttonsDisabledDuringResults = false;
    std::int16_t tensuDuringResults = -1;
    game.services().onModal = [&](ui::Form& results) {
        restartsWhileResultsShowed = game.services().countTitled(restartTitle);
        buttonsDisabledDuringResults = !f.kotae(0).isEnabled() && !f.kotae(4).isEnabled();
        tensuDuringResults = tensu;
        results.Unload();
    };
    f.kotae_Click(0);
    QCOMPARE(game.services().modalForms, QStringList{QStringLiteral("Form3")});
    QCOMPARE(restartsWhileResultsShowed, 0);
    QVERIFY(buttonsDisabledDuringResults);
    QCOMPARE(tensuDuringResults, 10);
    QCOMPARE(f.sikiyo(4).caption(), QStringLiteral("○"));
    QCOMPARE(game.services().countTitled(restartTitle), 1);
    const ui::Message& last = game.services().messages.back();
    QCOMPARE(last.text, QStringLiteral("再スタートは，\r「スタート」ボタンをクリック!!"));
    QCOMPARE(last.icon, ui::Icon::Exclamation);
    QCOMPARE(last.buttons, ui::Buttons::Ok);
    QVERIFY(!f.Timer1->isRunning());
    for (std::int16_t i = 0; i < 5; ++i)
        QVERIFY(!f.kotae(i).isEnabled());
}

// Guards against a restart message after a time-out, or a game that runs past five questions.
void Form1Test::endByTimeOutAsksNothing()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(5);
    f.Command1_Click();
    for (int q = 0; q < 5; ++q)
        tick(f, 11);
    QCOMPARE(marks(f), QStringList(5, QStringLiteral("×")));
    QCOMPARE(game.services().modalForms.size(), 1);
    QCOMPARE(game.services().countTitled(restartTitle), 0);
    QCOMPARE(tensu, 0);
    QCOMPARE(f.tokuten->caption(), QStringLiteral(" 0"));
    QVERIFY(!f.Timer1->isRunning());
    QVERIFY(!f.kotae(0).isEnabled());
}

// Guards against a game's score being lost when the lists were open for viewing as it ended.
void Form1Test::viewingWindowIsReplacedAtGameEnd()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(5);
    f.Command1_Click();
    f.m1c_Click();
    QVERIFY(windows::resultsExist());
    ui::Form* viewing = &windows::form3();
    ui::Form* atEnd = nullptr;
    game.services().onModal = [&](ui::Form& results) {
        atEnd = &results;
        QVERIFY(viewing->isUnloaded());
        results.Unload();
    };
    for (int i = 0; i < 5; ++i)
        f.kotae_Click(0);
    QVERIFY(atEnd != nullptr);
    QVERIFY(atEnd != viewing);
    QCOMPARE(tensu, 50);
}

// Guards against the range button leaving the countdown running, or a frozen question losing its points.
void Form1Test::rangeButtonFreezesTheQuestion()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(2);
    f.Command1_Click();
    tick(f, 4);
    f.Command3_Click();
    QVERIFY(!f.Timer1->isRunning());
    QCOMPARE(f.tokuten->caption(), QStringLiteral(" 6"));
    QVERIFY(f.kotae(0).isEnabled());
    QCOMPARE(row(f, 0), (QStringList{"-2", "-1", " 0", " 1", " 2"}));
    f.kotae_Click(0);
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 6"));
    QVERIFY(f.Timer1->isRunning());
}

// Guards against the cycle skipping a range or the message naming the wrong one.
void Form1Test::rangeButtonCyclesWithAMessage()
{
    GameFixture game;
    Form1& f = game.form();
    const QStringList names{"１～５", "－５～－１", "ランダム", "－２～２"};
    for (int i = 0; i < 4; ++i) {
        f.Command3_Click();
        QCOMPARE(hani, (i + 1) % 4);
        QCOMPARE(f.Command3->text(), QStringLiteral("ｘの値：") + names[i]);
        QCOMPARE(checkedRange(f), (i + 1) % 4);
        const ui::Message& m = game.services().messages.back();
        QCOMPARE(m.title, rangeTitle);
        QCOMPARE(m.text, QStringLiteral("ｘの値を ") + names[i]
                             + QStringLiteral(" の範囲にします。\r「スタート」ボタンをクリックしてください。"));
        QCOMPARE(m.icon, ui::Icon::Exclamation);
    }
    QCOMPARE(game.services().countTitled(rangeTitle), 4);
}

// Guards against a message or caption change when the player picks the range already chosen.
void Form1Test::rangeMenuOnlyReportsAChange()
{
    GameFixture game;
    Form1& f = game.form();
    f.en(0).trigger();
    QCOMPARE(game.services().countTitled(rangeTitle), 0);
    QCOMPARE(checkedRange(f), 0);
    QCOMPARE(f.Command3->text(), QStringLiteral("ｘの値：－２～２"));

    f.en(2).trigger();
    QCOMPARE(hani, 2);
    QCOMPARE(checkedRange(f), 2);
    QCOMPARE(f.Command3->text(), QStringLiteral("ｘの値：－５～－１"));
    QCOMPARE(game.services().countTitled(rangeTitle), 1);
    QCOMPARE(game.services().messages.back().text,
             QStringLiteral("ｘの値を －５～－１ の範囲にします。\r「スタート」ボタンをクリックしてください。"));

    f.en(2).trigger();
    QCOMPARE(checkedRange(f), 2);
    QCOMPARE(game.services().countTitled(rangeTitle), 1);
}

// Guards against the range menu stopping or restarting a running countdown.
void Form1Test::rangeMenuKeepsTheCountdown()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(1);
    f.Command1_Click();
    tick(f, 2);
    f.en(1).trigger();
    QVERIFY(f.Timer1->isRunning());
    QCOMPARE(f.tokuten->caption(), QStringLiteral(" 8"));
    f.Timer1_Timer();
    QCOMPARE(f.tokuten->caption(), QStringLiteral(" 7"));
}

// Guards against the check mark and the range button drifting apart.
void Form1Test::checkMarkAlwaysMatchesTheButton()
{
    GameFixture game;
    Form1& f = game.form();
    const int steps[] = {-1, 3, -1, 3, 0, -1, 2, 2, -1, 1, -1, -1};
    for (int step : steps) {
        if (step < 0)
            f.Command3_Click();
        else
            f.en(static_cast<std::int16_t>(step)).trigger();
        const int checked = checkedRange(f);
        QCOMPARE(checked, hani);
        QCOMPARE(f.Command3->text(), QStringLiteral("ｘの値：") + f.hanimei[checked]);
    }
}

// Guards against a range change redrawing the question on screen instead of the next one.
void Form1Test::newRangeAppliesFromTheNextQuestion()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(2);
    f.Command1_Click();
    f.en(1).trigger();
    QCOMPARE(row(f, 0), (QStringList{"-2", "-1", " 0", " 1", " 2"}));
    f.kotae_Click(0);
    QCOMPARE(row(f, 0), (QStringList{" 1", " 2", " 3", " 4", " 5"}));
    QCOMPARE(row(f, 5), (QStringList{" 2", " 4", " 6", " 8", " 10"}));
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
    windows::form2().windowActivated();
    GameFixture::settle();
    windows::form2().Command1_Click();
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
    Form1& f = game.form();
    game.scriptProportionalQuestions(1);
    f.Command1_Click();
    tick(f, 1);
    QString shownDuringMessage;
    game.services().onMessage = [&](const ui::Message&) {
        f.Timer1_Timer();
        shownDuringMessage = f.tokuten->caption();
    };
    windows::form2().Show();
    windows::form2().windowActivated();
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

// SPDX-License-Identifier: GPL-3.0-or-later
// The game window's decisions without a window: the total, the end of a game, the range
// cycle and what a screen reader is told.
#include "rules/game_window.h"
#include "rules/module1.h"
#include "support/draws.h"
#include "support/text.h"

#include <QTest>

#include <deque>

using game::GameWindow;
using game::Step;

namespace {

// A game window whose questions are all y = 2x over the range chosen.
struct Game {
    std::deque<double> draws;
    GameWindow window{[this] { return nextDraw(draws); }};

    Game() { window.Form_Load(); }
    Step start()
    {
        for (int i = 0; i < question::questionsPerGame; ++i)
            draws.insert(draws.end(), {drawFor(0, 10), drawFor(6, 9)});
        window.Command1_Click();
        return window.syutudai();
    }
    // Answers after `ticks` ticks; 11 ticks run the question out instead.
    Step play(int ticks, std::int16_t button)
    {
        Step step;
        for (int i = 0; i < ticks; ++i)
            step = window.Timer1_Timer();
        return step.nextQuestion || step.results != game::Results::None ? step : window.kotae_Click(button);
    }
};

} // namespace

class GameWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { Module1::reset(); }
    void rightAnswerAddsThePointsShowing_data();
    void rightAnswerAddsThePointsShowing();
    void gameEndsAfterTheFifthQuestion_data();
    void gameEndsAfterTheFifthQuestion();
    void rangeButtonCyclesAndMenuChoosesOthers_data();
    void rangeButtonCyclesAndMenuChoosesOthers();
    void captionsAreSpokenAsWords_data();
    void captionsAreSpokenAsWords();
    void questionIsSaidAsShown();
    void roundGoesByTheServersMoments_data();
    void roundGoesByTheServersMoments();
};

void GameWindowTest::rightAnswerAddsThePointsShowing_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("mark");
    QTest::addColumn<QString>("total"); // after 7 points from the first question
    QTest::addColumn<QString>("said");

    const char* totals[] = {" 17", " 16", " 15", " 14", " 13", " 12", " 11", " 10", " 9", " 8", " 7"};
    for (int ticks = 0; ticks <= 10; ++ticks)
        QTest::addRow("right at %d", 10 - ticks)
            << ticks << 0 << "○" << totals[ticks] << QStringLiteral("まる、正解。得点 %1点。").arg(17 - ticks);
    QTest::newRow("wrong at 10") << 0 << 2 << "×"
                                 << " 7"
                                 << "ばつ、不正解。得点 7点。";
    QTest::newRow("timed out") << 11 << 0 << "×"
                               << " 7"
                               << "時間切れ、ばつ。得点 7点。";
}

// Guards against points taken from another tick than the one showing, a total not read back
// and written again, a wrong answer or a time-out that scores, or no move to question 3.
void GameWindowTest::rightAnswerAddsThePointsShowing()
{
    QFETCH(int, ticks);
    QFETCH(int, button);
    QFETCH(QString, mark);
    QFETCH(QString, total);
    QFETCH(QString, said);
    Game game;
    game.start();
    QVERIFY(game.play(3, 0).nextQuestion);
    game.window.syutudai();
    const Step step = game.play(ticks, static_cast<std::int16_t>(button));
    QCOMPARE(qs(game.window.screen.sikiyo[1]), mark);
    QCOMPARE(qs(game.window.screen.tokutenyo), total);
    QVERIFY(step.beep);
    QVERIFY(step.timer == game::TimerChange::Stop);
    QVERIFY(step.nextQuestion);
    QCOMPARE(step.said.size(), std::size_t(1));
    QCOMPARE(qs(step.said.front()), said);
}

void GameWindowTest::gameEndsAfterTheFifthQuestion_data()
{
    QTest::addColumn<int>("lastTicks"); // before the fifth answer; 11: it times out
    QTest::addColumn<int>("tensu");
    QTest::addColumn<bool>("restart");
    QTest::newRow("answered at 10") << 0 << 50 << true;
    QTest::newRow("answered at 0") << 10 << 40 << true;
    QTest::newRow("timed out") << 11 << 40 << false;
}

// Guards against a game that ends early or late, a score handed over that is not the total, the
// answers left usable, and the restart message after a time-out or missing after an answer.
void GameWindowTest::gameEndsAfterTheFifthQuestion()
{
    QFETCH(int, lastTicks);
    QFETCH(int, tensu);
    QFETCH(bool, restart);
    Game game;
    game.start();
    for (int q = 1; q < 5; ++q) {
        const Step step = game.play(0, 0);
        QVERIFY(step.nextQuestion);
        QVERIFY(step.results == game::Results::None);
        QVERIFY(game.window.screen.answersEnabled);
        game.window.syutudai();
    }
    const Step last = game.play(lastTicks, 0);
    QVERIFY(!last.nextQuestion);
    QVERIFY(last.results == game::Results::AtGameEnd);
    QVERIFY(last.timer == game::TimerChange::Stop);
    QVERIFY(!game.window.screen.answersEnabled);
    QCOMPARE(int(Module1::tensu), tensu);
    QCOMPARE(last.message.has_value(), restart);
    if (restart)
        QCOMPARE(qs(last.message->title), QStringLiteral("再スタート"));
    QVERIFY(game.draws.empty());
}

void GameWindowTest::rangeButtonCyclesAndMenuChoosesOthers_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("menu"); // -1: the range button
    QTest::addColumn<int>("hani");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("told");

    QTest::newRow("button from 0") << 0 << -1 << 1 << "１～５" << true;
    QTest::newRow("button from 2") << 2 << -1 << 3 << "ランダム" << true;
    QTest::newRow("button from 3 back to 0") << 3 << -1 << 0 << "－２～２" << true;
    QTest::newRow("menu picks another") << 0 << 2 << 2 << "－５～－１" << true;
    QTest::newRow("menu picks the current one") << 1 << 1 << 1 << "１～５" << false;
}

// Guards against the button skipping a range or not coming round, the check mark and the button
// naming another range than hani, a message for the range already chosen, the button leaving a
// question counting or the menu stopping it.
void GameWindowTest::rangeButtonCyclesAndMenuChoosesOthers()
{
    QFETCH(int, from);
    QFETCH(int, menu);
    QFETCH(int, hani);
    QFETCH(QString, name);
    QFETCH(bool, told);
    Game game;
    game.window.en_Click(static_cast<std::int16_t>(from));
    const Step step = menu < 0 ? game.window.Command3_Click() : game.window.en_Click(static_cast<std::int16_t>(menu));
    QCOMPARE(int(Module1::hani), hani);
    QCOMPARE(int(game.window.screen.checkedRange), hani);
    QCOMPARE(qs(game.window.screen.command3), QStringLiteral("ｘの値：") + name);
    QVERIFY(step.timer == (menu < 0 ? game::TimerChange::Stop : game::TimerChange::Leave));
    QCOMPARE(step.message.has_value(), told);
    if (told)
        QVERIFY(qs(step.message->text).startsWith(QStringLiteral("ｘの値を ") + name + QStringLiteral(" の範囲")));
}

void GameWindowTest::captionsAreSpokenAsWords_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("said");
    QTest::newRow("negative") << "-2"
                              << "マイナス2";
    QTest::newRow("negative fraction") << "-1.5"
                                       << "マイナス1.5";
    QTest::newRow("zero") << " 0"
                          << "0";
    QTest::newRow("fraction") << " 1.5"
                              << "1.5";
    QTest::newRow("two digits") << "10"
                                << "10";
    QTest::newRow("no value") << " ×"
                              << "なし";
}

// Guards against a screen reader hearing "-" or a blank, or the empty y cell said as a mark.
void GameWindowTest::captionsAreSpokenAsWords()
{
    QFETCH(QString, caption);
    QFETCH(QString, said);
    QCOMPARE(qs(game::spoken(u16(caption))), said);
}

// Guards against the question said otherwise than the table shows it, and the empty y cell
// described as a value.
void GameWindowTest::questionIsSaidAsShown()
{
    Game game;
    game.draws = {drawFor(3, 10), drawFor(0, 3), 0.9}; // y = 6 / x over -2..2
    game.window.Command1_Click();
    const Step step = game.window.syutudai();
    QCOMPARE(step.said.size(), std::size_t(1));
    QCOMPARE(qs(step.said.front()),
             QStringLiteral("第1問、10点。ｘ マイナス2 マイナス1 0 1 2、ｙ マイナス3 マイナス6 なし 6 3。"));
    QCOMPARE(qs(game.window.screen.monbang), QStringLiteral("第 1問"));
    QCOMPARE(qsList(game.window.screen.yDescription, game.window.screen.yDescription + 5),
             (QStringList{"ｙの値", "ｙの値", "ｙの値なし", "ｙの値", "ｙの値"}));
}

void GameWindowTest::roundGoesByTheServersMoments_data()
{
    // Events after a round in range 2 began, by the round's tick of 2000 ms: qN question N
    // shows; eMS the countdown MS after it showed; aB button B (0 is right); sQ:P:C:R the
    // server's word on question Q (points, counted, right); S スタート, R the range button, M0
    // range menu 0, T a timer tick; E the round's end.
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("marks");
    QTest::addColumn<QString>("total");
    QTest::addColumn<bool>("enabled"); // the answers, after the events
    QTest::addColumn<int>("tensu");    // -1: not ended
    QTest::addColumn<QString>("late"); // the end's message, if any: the late answers, or the restart

    QTest::newRow("before the first question") << ""
                                               << ""
                                               << "0" << false << -1 << "";
    QTest::newRow("a question waits for its moment") << "q0 e1999 a0"
                                                     << "○"
                                                     << "10" << false << -1 << "";
    QTest::newRow("the countdown by the server's time") << "q0 e4000 a0"
                                                        << "○"
                                                        << "8" << false << -1 << "";
    QTest::newRow("the server's points stand") << "q0 e4000 a0 s0:9:1:1"
                                               << "○"
                                               << "9" << false << -1 << "";
    QTest::newRow("a second press is nothing") << "q0 a0 a0 a1"
                                               << "○"
                                               << "10" << false << -1 << "";
    QTest::newRow("wrong") << "q0 a1 s0:0:1:0"
                           << "×"
                           << "0" << false << -1 << "";
    QTest::newRow("timed out") << "q0 e21999 e22000"
                               << "×"
                               << "0" << false << -1 << "";
    QTest::newRow("no answer after the time-out") << "q0 e22000 a0"
                                                  << "×"
                                                  << "0" << false << -1 << "";
    QTest::newRow("an answer stands through the time-out") << "q0 a0 e22000"
                                                           << "○"
                                                           << "10" << false << -1 << "";
    QTest::newRow("at the last tick") << "q0 e21999 a0"
                                      << "○"
                                      << "0" << false << -1 << "";
    QTest::newRow("late by the server") << "q0 a0 s0:0:0:1"
                                        << "×"
                                        << "0" << false << -1 << "";
    QTest::newRow("スタート, range and ticks do nothing") << "q0 S R M0 T T a0"
                                                          << "○"
                                                          << "10" << false << -1 << "";
    QTest::newRow("the next question") << "q0 a0 q1"
                                       << "○"
                                       << "10" << true << -1 << "";
    QTest::newRow("a rejoin marks the questions missed") << "s1:7:1:1 q3"
                                                         << "×,○,×"
                                                         << "7" << true << -1 << "";
    QTest::newRow("a rejoin on an answered question") << "s2:7:1:1 q2"
                                                      << "×,×,○"
                                                      << "7" << false << -1 << "";
    QTest::newRow("the end hands over the server's total")
        << "q0 a0 s0:9:1:1 q1 a1 s1:0:1:0 q2 q3 q4 a0 s4:5:1:1 E"
        << "○,×,×,×,○"
        << "14" << false << 14 << "再スタートは，\r「スタート」ボタンをクリック!!";
    QTest::newRow("the end after a time-out, without the restart message") << "q0 a0 s0:9:1:1 q1 q2 q3 q4 e22000 E"
                                                                           << "○,×,×,×,×"
                                                                           << "9" << false << 9 << "";
    QTest::newRow("answers the server did not count")
        << "q0 a0 s0:0:0:1 q1 a0 s1:10:1:1 q2 a0 E"
        << "×,○,○"
        << "10" << false << 10 << "第1問、第3問の答えは時間内に届かなかったため、数えられませんでした。";
}

// Guards against a round that draws its next question at an answer or a time-out, takes the
// page's clock, answers twice, scores a late answer, lets スタート or a range change in, or
// ends with another total than the server's, keeping quiet about answers that did not count.
void GameWindowTest::roundGoesByTheServersMoments()
{
    QFETCH(QString, events);
    QFETCH(QString, marks);
    QFETCH(QString, total);
    QFETCH(bool, enabled);
    QFETCH(int, tensu);
    QFETCH(QString, late);
    Game game;
    for (int i = 0; i < question::questionsPerGame; ++i)
        game.draws.insert(game.draws.end(), {drawFor(0, 10), drawFor(6, 9)});
    game.window.en_Click(0);
    Module1::tensu = -1;
    Step step = game.window.startRound(2, 2000);
    QVERIFY(game.window.inRound());
    for (const QString& e : events.split(' ', Qt::SkipEmptyParts)) {
        const QStringList n = e.mid(1).split(':');
        const auto at = [&n](int i) { return static_cast<std::int16_t>(n[i].toInt()); };
        switch (e[0].toLatin1()) {
        case 'q': step = game.window.roundQuestion(at(0)); break;
        case 'e': step = game.window.roundTick(n[0].toLongLong()); break;
        case 'a': step = game.window.kotae_Click(at(0)); break;
        case 's': step = game.window.roundAnswered(at(0), at(1), at(2), at(3)); break;
        case 'S': step = game.window.Command1_Click(); break;
        case 'R': step = game.window.Command3_Click(); break;
        case 'M': step = game.window.en_Click(at(0)); break;
        case 'T': step = game.window.Timer1_Timer(); break;
        case 'E': step = game.window.endRound(); break;
        }
        QVERIFY2(!step.nextQuestion && step.message.has_value() == (e == "E" && !late.isEmpty()), qPrintable(e));
    }
    const auto& sikiyo = game.window.screen.sikiyo;
    QStringList shown = qsList(sikiyo, sikiyo + question::questionsPerGame);
    while (!shown.isEmpty() && shown.last().isEmpty())
        shown.removeLast();
    QCOMPARE(shown.join(','), marks);
    QCOMPARE(qs(game.window.screen.tokutenyo).trimmed(), total);
    QCOMPARE(game.window.screen.answersEnabled, enabled);
    QCOMPARE(int(Module1::hani), 2);
    QCOMPARE(int(game.window.screen.checkedRange), 2);
    QCOMPARE(int(Module1::tensu), tensu);
    QCOMPARE(game.window.inRound(), tensu < 0);
    QVERIFY(step.results == (tensu < 0 ? game::Results::None : game::Results::AtGameEnd));
    if (!late.isEmpty())
        QCOMPARE(qs(step.message->text), late);
}

QTEST_MAIN(GameWindowTest)
#include "tst_gamewindow.moc"

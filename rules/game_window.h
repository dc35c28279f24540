// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/message.h"
#include "rules/question.h"
#include "rules/ranges.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the game window decides, free of any window: its captions and states as plain data
// (Screen) and its handlers as functions (GameWindow) that change them and say what else the
// event does (Step). A front end keeps one GameWindow for the window's life; for each event it
// calls the handler of the same name and carries out the Step it returns (see Step). The
// handlers read and write Module1's shared hani, touroku and tensu.
namespace game {

// The answer button that is never shown: the square proportion is answered with button 4.
inline constexpr std::int16_t hiddenAnswer = question::SquareProportional;
// The answer buttons kotae(0) to kotae(answers - 1), one for each relation kind.
inline constexpr std::int16_t answers = question::Quadratic + 1;

// The captions and states of the controls that the game changes.
struct Screen {
    // False until the first Start. Till then the window keeps the captions it was designed
    // with, and only the answer buttons and the range (the last three members) are the game's.
    bool played = false;
    std::u16string monbang;                            // the question: "第 1問"
    std::u16string tokuten;                            // points still to be won: "10", " 9" ... " 0"
    std::u16string tokutenyo;                          // the running total: " 0" ... " 50"
    std::u16string mondai[2 * question::columns];      // the x cells, then the y cell under each
    std::u16string yDescription[question::columns];    // what a y cell is, for screen readers
    std::u16string sikiyo[question::questionsPerGame]; // result marks: "○", "×" or empty

    bool answersEnabled = false;   // kotae(0) to kotae(4), set in index order
    std::u16string command3;       // the range button: "ｘの値：" and the range
    std::int16_t checkedRange = 0; // en(i) carries the check mark for this i only
};

// How an event leaves the question timer.
enum class TimerChange {
    Leave, // as it was
    Stop,  // interval 0
    Start, // afresh, the first tick question::tickMilliseconds later
};

// Which opening of the results window an event asks for.
enum class Results {
    None,
    AtGameEnd, // modal: the front end waits until it is closed; tensu holds the game's total
    Viewing,   // not modal, for viewing: tensu is 0
};

// What an event does besides changing the screen, carried out by the front end part by part
// in the order of stepParts.
struct Step {
    std::vector<std::u16string> said; // for a screen reader, in order, without moving the focus
    bool beep = false;
    TimerChange timer = TimerChange::Leave;
    Results results = Results::None;
    std::optional<MessageText> message;
    bool nextQuestion = false;
};

// The parts of a Step, in the order every front end carries them out: show the screen; say
// `said`; beep; change the timer; open the results window; show the message (with the
// exclamation icon and an OK button); then, if nextQuestion, call syutudai and carry out its
// Step in turn. A front end decides nothing of its own about a part but how to perform it.
enum class StepPart { Screen, Said, Beep, Timer, Results, Message, NextQuestion };
inline constexpr StepPart stepParts[] = {StepPart::Screen,  StepPart::Said,    StepPart::Beep,        StepPart::Timer,
                                         StepPart::Results, StepPart::Message, StepPart::NextQuestion};

// A caption as a screen reader should say it: the blanks dropped, "-2" as "マイナス2", the empty
// y cell question::noValue as "なし".
std::u16string spoken(std::u16string_view caption);

class GameWindow {
public:
    // rnd: the random draw of the questions, seeded by the front end.
    explicit GameWindow(question::Draw rnd);

    Screen screen;

    // State kept between events.
    std::int16_t xatai[rangeCount][question::columns] = {}; // x values by range; the random row is redrawn per question
    std::u16string hanimei[rangeCount];                     // range names
    std::int16_t keisuA = 0;
    std::int16_t keisuB = 0;
    std::int16_t keisuC = 0;
    std::int16_t kankei = 0;   // relation kind of the question standing
    std::int16_t mondaisu = 0; // number of the question within the game, 1..5; 0 before the first
    std::int16_t haiten = 0;   // points the question is still worth

    // Load: the timer stopped, range 0 chosen, the range names and the fixed x rows filled, the
    // answers disabled. kotae(hiddenAnswer) is hidden by the front end for good.
    Step Form_Load();
    // Each activation of the window: the start message. The timer is left running.
    Step Form_Activate() const;
    // スタート, mid-game too: the marks cleared, the answers enabled, mondaisu and touroku 0, the
    // total " 0", then the first question.
    Step Command1_Click();
    // Sets the next question: its number, 10 points, a drawn relation over the x values of
    // range hani, and the timer started. Said: the question with its points and both rows.
    Step syutudai();
    // One tick: the points one lower, or, when the tick comes while " 0" shows, a time-out: the
    // mark "×", a beep, the timer stopped, then the next question, or after the fifth the end
    // of the game without the restart message.
    Step Timer1_Timer();
    // Answer button Index: "○" and the points showing (tokuten, read back as a number) added to
    // the total read back from tokutenyo, or "×" and the total as it was; the timer stopped, a
    // beep, then the next question, or after the fifth the end of the game, the restart message
    // following the results window. The game's end disables the answers and hands the total to
    // the results window in tensu. In a class round the answer is marked and added alike, but
    // it ends nothing: the answers are disabled until the next question shows, and the game
    // ends at endRound (the server's word on it comes by roundAnswered).
    Step kotae_Click(std::int16_t Index);
    // The range button: the timer stopped (a standing question freezes with its points), the next
    // range of the cycle chosen and named on the button, and the range message.
    Step Command3_Click();
    // Range menu entry Index: checked; a range other than the current one is chosen, named on the
    // button and told in the range message. The timer is left running.
    Step en_Click(std::int16_t Index);
    // 一覧, and the total button: the lists for viewing, with tensu 0.
    Step m1c_Click();

    // A class round: the whole class plays one game at once, paced by the server's clock; the
    // front end calls these at the moments the round's schedule (class_round.h) sets, and the
    // server gives the points. While a round runs, スタート, the range button and the range menu
    // do nothing, and the timer ticks nothing (roundTick paces the countdown).
    //
    // The round begins: range `range` chosen and fixed, the marks cleared, the total " 0", the
    // answers disabled until its first question shows, the timer stopped. The questions are
    // those the window's draw gives from here on (the front end reseeds it with the round's seed).
    // tickMilliseconds: the round's pace, as the server set it.
    Step startRound(std::int16_t range, int tickMilliseconds);
    bool inRound() const { return round; }
    // Question q (0 to 4) shows, with 10 points: the questions before it are drawn first where
    // they were not shown (a device that came back mid-round), and those of them without a
    // result are marked "×". The answers are enabled unless q was answered already. No timer is
    // started and no question follows an answer or a time-out: the next waits for its moment.
    Step roundQuestion(std::int16_t q);
    // The countdown of the question standing, `elapsed` ms after it showed on the server's
    // clock: the points classround::pointsShown gives; from its time-out on, a question not
    // answered is marked "×" with a beep, and the answers are disabled.
    Step roundTick(std::int64_t elapsed);
    // The server's word on question q's answer: the points it gave and whether the answer
    // counted and was right. The mark follows it, and the total is the server's points so far
    // (with those of answers it has not yet answered for, as shown when pressed).
    Step roundAnswered(std::int16_t q, std::int16_t points, bool counted, bool right);
    // The round is over: the answers disabled, the total the server's, handed to the results
    // window in tensu; then a message naming the answers pressed that did not count (the server
    // got them late, or never), or else, as at a game's end, the restart message where the last
    // question was answered.
    Step endRound();

private:
    // A game begins: the marks and points of the last one cleared, no question asked yet.
    void beginGame();
    void markResult(const std::u16string& mark);
    std::u16string resultSaid(const std::u16string& result) const;
    void endGame(bool byAnswer, Step& step);
    void showRange();
    MessageText rangeMessage() const;
    void showRoundTotal();

    // The round's state, question by question: pressed here (with the points shown then), and
    // what the server said of it.
    struct RoundAnswer {
        bool pressed = false;
        std::int16_t shownPoints = 0;
        bool told = false;
        std::int16_t points = 0;
        bool counted = false;
    };
    bool round = false;
    RoundAnswer roundAnswers[question::questionsPerGame];
    int roundTickMilliseconds = question::tickMilliseconds;

    question::Draw rnd;
};

} // namespace game

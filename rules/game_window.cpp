// SPDX-License-Identifier: GPL-3.0-or-later
// The game window's decisions: start-up, questions, countdown, answers, ranges, the lists.
#include "rules/game_window.h"

#include "rules/class_round.h"
#include "rules/module1.h"
#include "rules/number_text.h"

#include <algorithm>
#include <utility>

namespace game {

namespace {

using numtext::numberText;
using numtext::readNumber;
using question::columns;

const std::u16string rightMark = u"○";
const std::u16string wrongMark = u"×";

} // namespace

std::u16string spoken(std::u16string_view caption)
{
    if (caption == question::noValue)
        return u"なし";
    const std::u16string_view value = numtext::trimmed(caption);
    if (!value.empty() && value.front() == u'-')
        return u"マイナス" + std::u16string(value.substr(1));
    return std::u16string(value);
}

GameWindow::GameWindow(question::Draw rnd) : rnd(std::move(rnd)) {}

Step GameWindow::Form_Load()
{
    for (std::int16_t i = 0; i < rangeCount; ++i)
        hanimei[i] = rangeName(i);
    question::fillFixedRows(xatai);
    screen.answersEnabled = false;
    screen.checkedRange = 0;
    Module1::hani = 0;
    showRange();
    Step step;
    step.timer = TimerChange::Stop;
    return step;
}

Step GameWindow::Form_Activate() const
{
    Step step;
    step.message = MessageText{u"「スタート」ボタンをクリックすると，始まります。", u"スタート"};
    return step;
}

Step GameWindow::Command1_Click()
{
    if (round)
        return {};
    beginGame();
    screen.answersEnabled = true;
    Step step;
    step.nextQuestion = true;
    return step;
}

void GameWindow::beginGame()
{
    screen.played = true;
    for (std::u16string& mark : screen.sikiyo)
        mark.clear();
    mondaisu = 0;
    Module1::touroku = 0;
    screen.tokutenyo = numberText(0);
}

Step GameWindow::syutudai()
{
    haiten = question::fullPoints;
    const std::u16string points = numberText(haiten);
    screen.tokuten = points.substr(points.size() - 2); // "10": the blank does not fit the label
    ++mondaisu;
    screen.monbang = u"第" + numberText(mondaisu) + u"問";

    const std::int16_t hani = Module1::hani;
    const question::Relation relation = question::drawQuestion(rnd, hani, {kankei, keisuA, keisuB, keisuC}, xatai);
    kankei = relation.kankei;
    keisuA = relation.a;
    keisuB = relation.b;
    keisuC = relation.c;
    std::u16string xs, ys;
    for (int i = 0; i < columns; ++i) {
        const std::int16_t x = xatai[hani][i];
        std::u16string& xCell = screen.mondai[i];
        std::u16string& yCell = screen.mondai[i + columns];
        xCell = numberText(x);
        yCell = question::yText(relation, x);
        screen.yDescription[i] = yCell == question::noValue ? u"ｙの値なし" : u"ｙの値";
        xs += u" " + spoken(xCell);
        ys += u" " + spoken(yCell);
    }

    Step step;
    step.timer = TimerChange::Start;
    step.said.push_back(u"第" + spoken(numberText(mondaisu)) + u"問、" + spoken(screen.tokuten) + u"点。ｘ" + xs
                        + u"、ｙ" + ys + u"。");
    return step;
}

Step GameWindow::Timer1_Timer()
{
    Step step;
    if (round)
        return step;
    if (!question::countdownTick(haiten)) {
        screen.tokuten = numberText(haiten);
        return step;
    }
    markResult(wrongMark);
    step.said.push_back(resultSaid(u"時間切れ、ばつ"));
    step.beep = true;
    step.timer = TimerChange::Stop;
    if (mondaisu >= question::questionsPerGame)
        endGame(false, step);
    else
        step.nextQuestion = true;
    return step;
}

Step GameWindow::kotae_Click(std::int16_t Index)
{
    Step step;
    RoundAnswer* answer = round ? &roundAnswers[std::max(mondaisu - 1, 0)] : nullptr;
    if (answer) {
        if (mondaisu < 1 || !screen.answersEnabled)
            return step;
        answer->pressed = true;
        answer->shownPoints = static_cast<std::int16_t>(readNumber(screen.tokuten));
    }
    if (question::isRightAnswer(kankei, Index)) {
        markResult(rightMark);
        // The points are those the label shows, not haiten.
        screen.tokutenyo = numberText(readNumber(screen.tokutenyo) + readNumber(screen.tokuten));
        step.said.push_back(resultSaid(u"まる、正解"));
    } else {
        markResult(wrongMark);
        step.said.push_back(resultSaid(u"ばつ、不正解"));
    }
    step.beep = true;
    step.timer = TimerChange::Stop;
    if (answer) {
        if (!question::isRightAnswer(kankei, Index))
            answer->shownPoints = 0;
        screen.answersEnabled = false;
        showRoundTotal();
        step.said.back() = resultSaid(question::isRightAnswer(kankei, Index) ? u"まる、正解" : u"ばつ、不正解");
    } else if (mondaisu >= question::questionsPerGame)
        endGame(true, step);
    else
        step.nextQuestion = true;
    return step;
}

void GameWindow::markResult(const std::u16string& mark)
{
    if (mondaisu >= 1 && mondaisu <= question::questionsPerGame)
        screen.sikiyo[mondaisu - 1] = mark;
}

std::u16string GameWindow::resultSaid(const std::u16string& result) const
{
    return result + u"。得点 " + spoken(screen.tokutenyo) + u"点。";
}

void GameWindow::endGame(bool byAnswer, Step& step)
{
    screen.answersEnabled = false;
    Module1::tensu = static_cast<std::int16_t>(readNumber(screen.tokutenyo));
    step.results = Results::AtGameEnd;
    if (byAnswer)
        step.message = MessageText{u"再スタートは，\r「スタート」ボタンをクリック!!", u"再スタート"};
}

void GameWindow::showRange()
{
    screen.command3 = u"ｘの値：" + hanimei[Module1::hani];
}

MessageText GameWindow::rangeMessage() const
{
    return {u"ｘの値を " + hanimei[Module1::hani] + u" の範囲にします。\r「スタート」ボタンをクリックしてください。",
            u"ｘの値の変更"};
}

Step GameWindow::Command3_Click()
{
    if (round)
        return {};
    Module1::hani = nextRange(Module1::hani);
    screen.checkedRange = Module1::hani;
    showRange();
    Step step;
    step.timer = TimerChange::Stop;
    step.message = rangeMessage();
    return step;
}

Step GameWindow::en_Click(std::int16_t Index)
{
    if (round) {
        screen.checkedRange = Module1::hani; // the check stays on the round's range
        return {};
    }
    screen.checkedRange = Index;
    const std::int16_t old = Module1::hani;
    Module1::hani = Index;
    Step step;
    if (old != Index) {
        showRange();
        step.message = rangeMessage();
    }
    return step;
}

Step GameWindow::m1c_Click()
{
    Module1::tensu = 0;
    Step step;
    step.results = Results::Viewing;
    return step;
}

} // namespace game

namespace game {

Step GameWindow::startRound(std::int16_t range, int tickMilliseconds)
{
    round = true;
    roundTickMilliseconds = tickMilliseconds;
    for (RoundAnswer& answer : roundAnswers)
        answer = {};
    Module1::hani = range;
    screen.checkedRange = range;
    showRange();
    beginGame();
    screen.answersEnabled = false;
    screen.tokuten = numberText(0);
    screen.monbang.clear();
    for (std::u16string& cell : screen.mondai)
        cell.clear();
    Step step;
    step.timer = TimerChange::Stop;
    step.said.push_back(u"クラスのラウンドが始まります。ｘの値：" + hanimei[range] + u"。");
    return step;
}

Step GameWindow::roundQuestion(std::int16_t q)
{
    Step step;
    if (!round || q < 0 || q >= question::questionsPerGame || q < mondaisu - 1)
        return step;
    while (mondaisu < q + 1) {
        if (mondaisu >= 1 && screen.sikiyo[mondaisu - 1].empty())
            markResult(wrongMark);
        step = syutudai();
    }
    const RoundAnswer& answer = roundAnswers[q];
    screen.answersEnabled = !answer.pressed && !answer.told;
    step.timer = TimerChange::Leave;
    return step;
}

Step GameWindow::roundTick(std::int64_t elapsed)
{
    Step step;
    // Once answered or timed out, the countdown stands as it was.
    if (!round || mondaisu < 1 || elapsed < 0 || !screen.answersEnabled)
        return step;
    if (const std::optional<std::int16_t> points = classround::pointsShown(roundTickMilliseconds, elapsed)) {
        haiten = *points;
        const std::u16string text = numberText(haiten);
        screen.tokuten = text.substr(text.size() - 2); // "10": the blank does not fit the label
        return step;
    }
    haiten = 0;
    screen.tokuten = numberText(0);
    screen.answersEnabled = false;
    markResult(wrongMark);
    step.said.push_back(resultSaid(u"時間切れ、ばつ"));
    step.beep = true;
    return step;
}

Step GameWindow::roundAnswered(std::int16_t q, std::int16_t points, bool counted, bool right)
{
    Step step;
    if (!round || q < 0 || q >= question::questionsPerGame)
        return step;
    RoundAnswer& answer = roundAnswers[q];
    answer.told = true;
    answer.points = points;
    answer.counted = counted;
    if (q == mondaisu - 1)
        screen.answersEnabled = false;
    screen.sikiyo[q] = counted && right ? rightMark : wrongMark;
    showRoundTotal();
    return step;
}

Step GameWindow::endRound()
{
    Step step;
    if (!round)
        return step;
    round = false;
    std::u16string late;
    for (int q = 0; q < question::questionsPerGame; ++q) {
        const RoundAnswer& answer = roundAnswers[q];
        if (answer.pressed && !(answer.told && answer.counted))
            late += (late.empty() ? u"第" : u"、第") + spoken(numberText(q + 1)) + u"問";
        if (!answer.told)
            roundAnswers[q].shownPoints = 0; // the server never had it: it scored nothing
    }
    showRoundTotal();
    step.timer = TimerChange::Stop;
    // As a game's end: the restart message where the last question was answered.
    endGame(roundAnswers[question::questionsPerGame - 1].pressed, step);
    if (!late.empty())
        step.message =
            MessageText{late + u"の答えは時間内に届かなかったため、数えられませんでした。", u"クラスのラウンド"};
    return step;
}

void GameWindow::showRoundTotal()
{
    int total = 0;
    for (const RoundAnswer& answer : roundAnswers)
        total += answer.told ? answer.points : answer.pressed ? answer.shownPoints : 0;
    screen.tokutenyo = numberText(total);
}

} // namespace game

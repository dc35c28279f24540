// SPDX-License-Identifier: GPL-3.0-or-later
// The log of the game played through a game window, written as it is played.
#include "rules/game_log_recorder.h"

#include "rules/module1.h"
#include "rules/number_text.h"
#include "rules/seeded_draw.h"

namespace gamelog {

GameLogRecorder::GameLogRecorder(int tickMilliseconds)
    : current(std::make_shared<question::Draw>(question::seededDraw(0)))
{
    playing.tickMilliseconds = tickMilliseconds;
}

question::Draw GameLogRecorder::draw() const
{
    return [current = current] { return (*current)(); };
}

game::Step GameLogRecorder::Command1_Click(game::GameWindow& window, std::uint32_t seed)
{
    seed_ = seed;
    *current = question::seededDraw(seed);
    playing.answers.clear();
    finished.reset();
    return window.Command1_Click();
}

game::Step GameLogRecorder::startRound(game::GameWindow& window, std::uint32_t seed, std::int16_t range,
                                       int tickMilliseconds)
{
    seed_ = seed;
    *current = question::seededDraw(seed);
    playing.answers.clear();
    finished.reset();
    return window.startRound(range, tickMilliseconds);
}

game::Step GameLogRecorder::syutudai(game::GameWindow& window)
{
    questionRange = Module1::hani;
    return window.syutudai();
}

game::Step GameLogRecorder::Timer1_Timer(game::GameWindow& window)
{
    const game::Step step = window.Timer1_Timer();
    if (step.timer == game::TimerChange::Stop) // only a time-out stops the timer
        logAnswer(timedOut, 0, step);
    return step;
}

game::Step GameLogRecorder::kotae_Click(game::GameWindow& window, std::int16_t Index)
{
    if (window.inRound())
        return window.kotae_Click(Index); // the server logs a round's answers
    // The points the label shows, as the window adds them.
    const auto points = static_cast<std::int16_t>(numtext::readNumber(window.screen.tokuten));
    const game::Step step = window.kotae_Click(Index);
    logAnswer(Index, points, step);
    return step;
}

void GameLogRecorder::logAnswer(std::int16_t button, std::int16_t points, const game::Step& step)
{
    playing.answers.push_back({button, points, questionRange});
    if (step.results != game::Results::AtGameEnd)
        return;
    playing.range = Module1::hani;
    finished = playing;
    playing.answers.clear();
}

} // namespace gamelog

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/game_log.h"
#include "rules/game_window.h"

#include <cstdint>
#include <memory>
#include <optional>

// Keeps the log of the game played through a game::GameWindow, and the seed its questions are
// drawn from. A front end constructs its window with draw() and calls the recorder's handlers
// below in place of the window's handlers of the same name (each calls the window's and hands
// back its Step unchanged); every other handler it calls on the window as before. Each
// スタート takes the seed of a new game (a class server's ticket, or one drawn by the front
// end), so that the game's questions are those gamelog::replay(seed, log) sets.
// Reads Module1::hani, as the window does: one recorder per window, on the window's thread.
namespace gamelog {

class GameLogRecorder {
public:
    // tickMilliseconds: the countdown's pace, logged where it is not the usual one.
    explicit GameLogRecorder(int tickMilliseconds = question::tickMilliseconds);

    // The window's draw: reals of question::seededDraw(seed) for the game started last.
    question::Draw draw() const;

    // スタート with the new game's seed: the draw reseeded, the log begun afresh.
    game::Step Command1_Click(game::GameWindow& window, std::uint32_t seed);
    // A class round begins (GameWindow::startRound) on the round's seed: its questions are
    // those a replay of the round's answers draws; no log is kept of it (the server keeps it).
    game::Step startRound(game::GameWindow& window, std::uint32_t seed, std::int16_t range, int tickMilliseconds);
    // Notes the range the question is drawn in.
    game::Step syutudai(game::GameWindow& window);
    // Logs a time-out when the tick is one.
    game::Step Timer1_Timer(game::GameWindow& window);
    // Logs button Index with the points showing as it was pressed.
    game::Step kotae_Click(game::GameWindow& window, std::int16_t Index);

    // The seed of the game started last.
    std::uint32_t seed() const { return seed_; }
    // The finished game's log, from its fifth answer or time-out until the next スタート;
    // before that, none.
    const std::optional<GameLog>& log() const { return finished; }

private:
    void logAnswer(std::int16_t button, std::int16_t points, const game::Step& step);

    std::shared_ptr<question::Draw> current;
    std::uint32_t seed_ = 0;
    GameLog playing;
    std::int16_t questionRange = 0;
    std::optional<GameLog> finished;
};

} // namespace gamelog

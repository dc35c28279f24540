// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/game_log.h"
#include "rules/question.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <variant>

// A logged game played again from its seed, as a class server does before it accepts the
// game's score: the five questions come from question::seededDraw(seed) exactly as a
// game::GameWindow constructed with that draw sets them (question::drawQuestion, one after the
// other, each in the range the log says it was drawn in), and each logged button is judged
// against its question. The score is the replay's, never the pupil's word.
//
// Thread-safe: a replay touches no shared state (Module1 included), so a server may replay
// any number of games at once.
namespace gamelog {

struct ReplayedQuestion {
    // The relation shown. Coefficients its kind does not use show nowhere; they may differ
    // from those of a window that played other games before.
    question::Relation relation;
    std::array<std::int16_t, question::columns> x{}; // the x values shown
    Answer answer;                                   // as logged
    bool right = false;                              // the button names the relation
};

struct Replay {
    int score = 0; // the points of the right answers, 0 to 50
    std::array<ReplayedQuestion, question::questionsPerGame> questions{};
};

// The game `log` records, played from `seed`, or why the log is refused (see check).
std::variant<Replay, Refusal> replay(std::uint32_t seed, const GameLog& log);

// An entry claiming `claimedScore` by a log: its replay, or why it is refused: the log's own
// refusal (parse or check), or Refusal::ScoreNotTheSum where the replay's score is another.
std::variant<Replay, Refusal> checkEntry(std::uint32_t seed, const GameLog& log, int claimedScore);
std::variant<Replay, Refusal> checkEntry(std::uint32_t seed, std::string_view logText, int claimedScore);

} // namespace gamelog

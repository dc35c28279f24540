// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/question.h"
#include "rules/ranges.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The log of one game, all a class server needs to replay it: the range, and for each of the
// five questions the answer button pressed (or a time-out) with the points showing when it was
// pressed. The questions themselves are not in the log: they come from the seed the server
// issued for the game (see game_replay.h), so a log cannot choose easy ones, and the score is
// not in it either: a replay works it out.
//
// Its text, carried in a JSON string, is ASCII, at most maxTextLength characters:
//
//     1;R;Q,Q,Q,Q,Q[;P]        e.g. "1;2;0@10,4@7,t,2@9,1@3" or "1;3;t,t,1@4/0,0@10,2@2;1500"
//
//   1   the version of the form; any other version is refused.
//   R   the range the game counts in (0 to rangeCount - 1): the range chosen when it ended.
//   Q   one per question, in order: "B@N" for answer button B (0 to 4, never the hidden button
//       3) pressed while N points (0 to 10) showed, or "t" for a time-out. A question drawn
//       in another range than R (the pupil changed the range during the game) adds "/H",
//       its range.
//   P   the pace, milliseconds per tick of the countdown, where a teacher's link set one;
//       left out when it is question::tickMilliseconds.
//
// Numbers are written without sign, blanks or leading zeros; a text in any other form than the
// one write gives is refused, so a log has one text only.
namespace gamelog {

// The button of a question that timed out.
inline constexpr std::int16_t timedOut = -1;
inline constexpr std::size_t maxTextLength = 64;
inline constexpr int slowestPace = 60000; // milliseconds per tick; the fastest is 1

struct Answer {
    std::int16_t button = timedOut; // 0 to 4 but game::hiddenAnswer, or timedOut
    std::int16_t points = 0;        // showing when it was pressed (0 to 10); 0 for a time-out
    std::int16_t range = 0;         // the range the question was drawn in

    bool operator==(const Answer&) const = default;
};

struct GameLog {
    std::int16_t range = 0;      // the range the game counts in
    std::vector<Answer> answers; // one per question, in order: question::questionsPerGame
    int tickMilliseconds = question::tickMilliseconds;

    bool operator==(const GameLog&) const = default;
};

// Why a log, or an entry claiming a score by it, is refused.
enum class Refusal {
    Malformed,      // not in the form above: garbage, a missing or extra field, too long
    UnknownVersion, // a version other than 1
    NoSuchRange,    // a range outside 0 to rangeCount - 1
    QuestionCount,  // not five questions
    NoSuchButton,   // a button outside 0 to 4, or the hidden one
    PointsNotShown, // points outside 0 to 10, which no countdown shows
    PaceOutOfRange, // a pace outside 1 to slowestPace
    ScoreNotTheSum, // the score claimed is not the sum the replay gives
};

// The refusal in English, as a server answers it: "score is not the sum" ...
std::string_view refusalText(Refusal refusal);

// Whether a pupil can press answer button `button` (0 to 4, never the hidden one).
bool isButton(std::int16_t button);

// The first refusal `log` earns, in the order of the Refusal enum, or none.
std::optional<Refusal> check(const GameLog& log);

// The text of a log that passes check.
std::string write(const GameLog& log);

// The log a text gives, or why it is refused. Anything but a text write gives is refused.
std::variant<GameLog, Refusal> parse(std::string_view text);

} // namespace gamelog

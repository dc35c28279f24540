// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/game_log.h"
#include "rules/question.h"

#include <cstdint>
#include <optional>
#include <vector>

// A class round: one game the whole class plays at once, paced by the server's clock. The
// teacher starts it; every device draws the same five questions from the round's seed and
// shows each at the moment the schedule sets, whatever the pupil did before. The server alone
// gives the points: an answer is taken as made when the server received it, less the network
// delay the server measured for that device (its allowance), and scores what the countdown
// showed then. A device gains nothing by what it claims: its clock, its points and its times
// are never read.
//
// Times are milliseconds on the server's clock (since the epoch, or any origin the caller
// keeps). A question shows for the whole countdown, from fullPoints down to the tick that
// times it out, then a pause lets every screen show how it went before the next one.
namespace classround {

inline constexpr int pauseMilliseconds = 3000; // between a question's end and the next's start
inline constexpr int largestAllowance = 1000;  // ms of network delay allowed to a device at most
inline constexpr int leadMilliseconds = 10000; // from the teacher's start to the first question

struct Schedule {
    std::int64_t start = 0;                            // the first question shows
    int tickMilliseconds = question::tickMilliseconds; // the class's pace

    bool operator==(const Schedule&) const = default;
};

// How long a question stands: the countdown's ticks until it times out.
std::int64_t questionLength(int tickMilliseconds);
// When question q (0 to questionsPerGame - 1) shows, and when it ends (an answer taken from
// then on scores nothing).
std::int64_t questionStart(const Schedule& s, int q);
std::int64_t questionEnd(const Schedule& s, int q);
// When the round is over: the last question's end.
std::int64_t roundEnd(const Schedule& s);
// The question standing at `now`, or none (before the first, in a pause, after the last).
std::optional<int> questionAt(const Schedule& s, std::int64_t now);

// The points the countdown shows `elapsed` ms after its question was shown (question.h's
// countdown, tick by tick); none before it was shown and from its time-out on.
std::optional<std::int16_t> pointsShown(int tickMilliseconds, std::int64_t elapsed);

// A device's allowance: half the shortest round trip the server measured to it (a device can
// lengthen its round trips, never shorten them), at most largestAllowance; 0 with none measured.
int allowance(const std::vector<std::int64_t>& roundTrips);

// One answer as the server takes it: question q answered with `button` (0 to 4), received at
// `received` from a device allowed `allowanceMs` (allowance()'s). It is taken as pressed at received less
// the allowance, but never before the question showed. It counts when received after the
// question showed and taken before its end: the log's answer then holds the button and the
// points showing at that moment (a replay scores them when the button is right for the
// question). An answer that does not count is a time-out in the log.
struct Taken {
    gamelog::Answer answer;
    bool counted = false;
};
Taken take(const Schedule& s, int q, std::int16_t range, std::int16_t button, std::int64_t received, int allowanceMs);

} // namespace classround

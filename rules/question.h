// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/ranges.h"

#include <string>
#include <cstdint>
#include <functional>

// The rules of one question, free of any window: which relation hides behind the table,
// its coefficients, the x values of the random range and the texts of the y cells.
namespace question {

using Draw = std::function<double()>; // uniform reals r with 0 <= r < 1

// Relation kinds (kankei).
enum Kind : std::int16_t {
    Proportional = 0,      // y = a x
    InverselyProportional, // y = a / x
    Linear,                // y = a x + b
    SquareProportional,    // y = a x x
    Quadratic,             // y = a x x + b x + c
};

struct Relation {
    std::int16_t kankei = 0;
    std::int16_t a = 0;
    std::int16_t b = 0;
    std::int16_t c = 0;
};

constexpr int columns = 5;     // x values in a table; the y cell of column i is i + columns
constexpr int randomRange = 3; // hani of the range whose x values are drawn per question
constexpr int questionsPerGame = 5;
constexpr std::int16_t fullPoints = 10; // what a question is worth when it is set
constexpr int tickMilliseconds = 2000;  // one point less every two seconds

// Fills the x values of the fixed ranges (rows 0 to 2): -2..2, 1..5, -5..-1. The random
// range's row is left alone.
void fillFixedRows(std::int16_t (&xatai)[rangeCount][columns]);

// One tick of the countdown: the points drop by one. Returns true when the tick came while 0
// was showing, that is when the question has timed out (the points are then -1).
bool countdownTick(std::int16_t& haiten);

// Largest integer not greater than v.
std::int16_t Int(double v);

// Draws the kind, then its coefficients (a before b before c, redrawing zeros where the kind
// forbids them). Coefficients the kind does not use keep their values from `previous`.
Relation drawRelation(const Draw& rnd, Relation previous);

// The x values of the random range for a question of the given kind: fixed for the inverse
// proportion, else a strictly increasing row drawn from its first value and steps of 1 to 3.
void fillRandomRow(std::int16_t kankei, const Draw& rnd, std::int16_t row[columns]);

// The next question of range `hani` (0 to rangeCount - 1), the one rule the game window and a
// replay of a logged game share: the relation drawn after `previous` (drawRelation), then, in
// the random range only, that range's row of xatai redrawn for the relation's kind
// (fillRandomRow). The x values shown are xatai[hani]; the fixed rows are left alone.
Relation drawQuestion(const Draw& rnd, std::int16_t hani, Relation previous,
                      std::int16_t (&xatai)[rangeCount][columns]);

// The y cell under x = 0 of an inverse proportion, which has no value.
inline const std::u16string noValue = u" ×";

// Text of the y cell under x: a number text, or noValue under x = 0 for an inverse proportion.
std::u16string yText(const Relation& relation, std::int16_t x);

// Whether answer button `index` names the relation `kankei`. The square proportion is
// answered with button 4, since its own button is never shown.
bool isRightAnswer(std::int16_t kankei, std::int16_t index);

} // namespace question

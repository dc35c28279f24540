// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/question.h"

#include <cstdint>

namespace question {

// A random draw fixed by `seed`: the same reals, in the same order, from every compiler and
// standard library, so that a game seeded alike asks the same questions in the browser and on
// the desktop. Each real r (0 <= r < 1) is made from two outputs a, b of std::mt19937 seeded
// with `seed` (whose outputs the C++ standard fixes) as ((a >> 5) * 2^26 + (b >> 6)) / 2^53.
// Copies of the returned draw share one stream.
Draw seededDraw(std::uint32_t seed);

} // namespace question

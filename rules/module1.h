// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/ranges.h"

#include <cstdint>
#include <string>

// State shared by the three windows for the whole run, read and written directly.
namespace Module1 {

// One record of the ranking file: a name of 10 Shift-JIS bytes padded with spaces, and a score.
struct seiseki {
    std::string simei; // always exactly 10 bytes when it goes to or comes from the file
    std::int16_t kiroku = 0;
};

constexpr int runRankingRows = 16; // rows of anatakiroku; only 0..rangeCount-1 are used
constexpr int runRankingPlaces = 3;

extern std::int16_t tensu;   // score handed to the results window; 0 when it only shows the lists
extern std::int16_t touroku; // 1 once the finished game's score missed its best five
extern std::int16_t hani;    // current x-value range, 0..3
extern std::int16_t anatakiroku[runRankingRows][runRankingPlaces]; // best three of this run per range
extern seiseki seisekibuf; // a record for the windows; ranking.h works on records of its own

// Back to the values at program start.
void reset();

} // namespace Module1

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

// The x-value ranges the player can choose, numbered as hani 0 to rangeCount - 1.
inline constexpr int rangeCount = 4;

// Display names of the x-value ranges, numbered as hani: "－２～２", "１～５", "－５～－１", "ランダム".
std::u16string rangeName(std::int16_t hani);

// The range after hani in the range button's cycle: 0, 1, 2, 3, 0 ...
std::int16_t nextRange(std::int16_t hani);

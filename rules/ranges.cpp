// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/ranges.h"

std::u16string rangeName(std::int16_t hani)
{
    switch (hani) {
    case 0: return u"－２～２";
    case 1: return u"１～５";
    case 2: return u"－５～－１";
    case 3: return u"ランダム";
    default: return {};
    }
}

std::int16_t nextRange(std::int16_t hani)
{
    return static_cast<std::int16_t>((hani + 1) % rangeCount);
}

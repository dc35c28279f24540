// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/cp932.h"

#include <algorithm>
#include <iterator>

namespace cp932 {

namespace {
#include "cp932_table.inc"
} // namespace

bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

char16_t decode(unsigned char single)
{
    return singleByte[single];
}

char16_t decode(unsigned char lead, unsigned char trail)
{
    if (!isLeadByte(lead) || !isTrailByte(trail))
        return 0;
    const int row = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + (0x9F - 0x81 + 1);
    return doubleByte[row][trail - 0x40];
}

std::string encode(char32_t c)
{
    if (c < 0x80)
        return std::string(1, static_cast<char>(c));
    if (c > 0xFFFF)
        return {};
    const auto found = std::lower_bound(std::begin(encoding), std::end(encoding), c,
                                        [](const auto& entry, char32_t key) { return entry.c < key; });
    if (found == std::end(encoding) || found->c != c)
        return {};
    if (found->bytes < 0x100)
        return std::string(1, static_cast<char>(found->bytes));
    return {static_cast<char>(found->bytes >> 8), static_cast<char>(found->bytes & 0xFF)};
}

} // namespace cp932

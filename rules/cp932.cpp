// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/cp932.h"

namespace cp932 {

namespace {
#include "cp932_table.inc"

constexpr int rows = 60;     // lead bytes 0x81-0x9F, 0xE0-0xFC
constexpr int columns = 189; // trail bytes 0x40-0xFC

struct Tables {
    char16_t single[256];
    char16_t pair[rows][columns];
    unsigned short bytes[0x10000]; // of each BMP code point: one byte below 0x100, 0 for none
};

unsigned leadOf(int row)
{
    return row <= 0x9F - 0x81 ? 0x81 + row : 0xE0 + row - (0x9F - 0x81 + 1);
}

// The tables unpacked from cp932_table.inc (its packed decoding, the encoding made from it
// and iconv's overrides).
void unpack(Tables& t)
{
    const unsigned char* p = packed;
    unsigned unit = 0;
    auto next = [&p, &unit] {
        unsigned zigzag = 0;
        for (int shift = 0;; shift += 7) {
            const unsigned char group = *p++;
            zigzag |= unsigned(group & 0x7F) << shift;
            if (!(group & 0x80))
                break;
        }
        unit = (zigzag & 1 ? unit - (zigzag + 1) / 2 : unit + zigzag / 2) & 0xFFFF;
        return static_cast<char16_t>(unit);
    };
    for (char16_t& u : t.single)
        u = next();
    for (auto& row : t.pair)
        for (char16_t& u : row)
            u = next();

    // Each code point as the first sequence that reads as it, rows 0xED and 0xEE last.
    auto take = [&t](char16_t c, unsigned bytes) {
        if (c >= 0x80 && t.bytes[c] == 0)
            t.bytes[c] = static_cast<unsigned short>(bytes);
    };
    for (unsigned b = 0x80; b < 256; ++b)
        take(t.single[b], b);
    for (const bool late : {false, true}) {
        for (int row = 0; row < rows; ++row) {
            const unsigned lead = leadOf(row);
            if ((lead == 0xED || lead == 0xEE) != late)
                continue;
            for (int column = 0; column < columns; ++column)
                take(t.pair[row][column], lead << 8 | (0x40 + column));
        }
    }
    for (const auto& o : overrides)
        if (o.c)
            t.bytes[o.c] = o.bytes;
}

const Tables& tables()
{
    static Tables t;
    static const bool unpacked = (unpack(t), true);
    (void)unpacked;
    return t;
}

} // namespace

bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool isTrailByte(unsigned char b)
{
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

char16_t decode(unsigned char single)
{
    return tables().single[single];
}

char16_t decode(unsigned char lead, unsigned char trail)
{
    if (!isLeadByte(lead) || !isTrailByte(trail))
        return 0;
    const int row = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + (0x9F - 0x81 + 1);
    return tables().pair[row][trail - 0x40];
}

std::string encode(char32_t c)
{
    if (c < 0x80)
        return std::string(1, static_cast<char>(c));
    if (c > 0xFFFF)
        return {};
    const unsigned bytes = tables().bytes[c];
    if (bytes == 0)
        return {};
    if (bytes < 0x100)
        return std::string(1, static_cast<char>(bytes));
    return {static_cast<char>(bytes >> 8), static_cast<char>(bytes & 0xFF)};
}

} // namespace cp932

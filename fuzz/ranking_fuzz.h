// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the two fuzz targets share: the entry an input saves, the file images that Save and
// Blank make of a file's bytes by the rules alone, and the check that aborts on a broken rule.
#include "rules/ranges.h"
#include "rules/ranking.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "ranking_fuzz: broken rule at line %d: %s\n", __LINE__, #condition);                  \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

namespace fuzz {

inline constexpr int record = results::recordBytes;
inline constexpr std::size_t savedLength = results::savedBytes;
inline constexpr std::size_t readLength = results::readBytes;

// The entry the window would save, from the input's last bytes: the score from the last two,
// the range from the one before, and a name from up to 24 bytes before that, taken as UTF-16
// code units so that unpaired surrogates and every other oddity can turn up.
inline results::NewEntry entryFrom(const std::uint8_t* data, std::size_t size)
{
    results::NewEntry entry;
    if (size >= 2)
        entry.tensu = static_cast<std::int16_t>(static_cast<std::uint16_t>(data[size - 2] | (data[size - 1] << 8)));
    if (size >= 3)
        entry.hani = static_cast<std::int16_t>(data[size - 3] % rangeCount);
    const std::size_t nameEnd = size >= 3 ? size - 3 : 0;
    const std::size_t nameBegin = nameEnd >= 24 ? nameEnd - 24 : 0;
    for (std::size_t i = nameBegin; i + 1 < nameEnd; i += 2)
        entry.name += char16_t(data[i] | (data[i + 1] << 8));
    return entry;
}

// The whole file after Save of entry, and after Blank, as the rules make them of its bytes:
// the records they write, then the file's own bytes after them.
inline std::string savedImage(const std::string& file, const results::NewEntry& entry)
{
    return results::savedImage(file, entry);
}

inline std::string blankedImage(const std::string& file)
{
    return results::blankedImage(file);
}

} // namespace fuzz

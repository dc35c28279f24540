// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the ranking file, in memory: the lists are read from them as the results window
// reads tavon.rnk, an entry taken from the input's last bytes is saved, the lists are cleared
// and read again. Whatever the bytes, none of this may crash or run into undefined behaviour,
// and every save and clearing must keep the bytes that the file format keeps:
//   Read   - entries 0 to 20 are records 1 to 21 (score little-endian, signed); records
//            missing at the end read as blank.
//   Save   - the new entry goes into its range at the first place whose score is lower than or
//            equal to its own; every other record of 1 to 21 keeps its bytes (moved down one
//            place when below the new entry); records 22 to 75 are blank; bytes after record 75
//            stay as they are; the file is never shorter than 900 bytes or than it was.
//   Blank  - records 1 to 21 blank, every other byte kept.
// No file is touched, so that millions of inputs run in minutes; ranking_file_fuzz.cpp drives
// the same steps through a real file and holds it to the file images built here.
// A broken rule aborts with a message, which libFuzzer reports as a crash.
#include "fuzz/ranking_fuzz.h"

#include <algorithm>
#include <vector>

namespace {

using fuzz::readLength;
using fuzz::record;
using fuzz::savedLength;

const std::string blankRecord = std::string(results::nameBytes, ' ') + std::string(2, '\0');

std::int16_t scoreOf(const std::string& rec)
{
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(static_cast<unsigned char>(rec[10]) | (static_cast<unsigned char>(rec[11]) << 8)));
}

// Record n (from 1) as Read takes it: the stored bytes, or a blank record past the end.
std::string recordAsRead(const std::string& file, int n)
{
    const std::size_t at = std::size_t(n - 1) * record;
    return at + record <= file.size() ? file.substr(at, record) : blankRecord;
}

// The bytes from `at` on, as many as there are up to `length`.
std::string part(const std::string& bytes, std::size_t at, std::size_t length = std::string::npos)
{
    return at < bytes.size() ? bytes.substr(at, length) : std::string();
}

std::string scoreBytes(std::int16_t score)
{
    const auto u = static_cast<std::uint16_t>(score);
    return {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);

    // Names of any bytes decode (the input's first bytes as one long field, beyond the record
    // fields that Read decodes below), and what is typed back fits a name field.
    const std::u16string anyName = results::decodeName(part(input, 0, 64));
    FUZZ_CHECK(results::encodeName(anyName).size() == results::nameBytes);

    // Read.
    results::BestFiveLists lists;
    results::readLists(input, lists);
    for (int i = 0; i < results::readCount; ++i) {
        const std::string rec = recordAsRead(input, i + 1);
        FUZZ_CHECK(lists.seisekijikan[i] == scoreOf(rec));
        FUZZ_CHECK(lists.stored[i] == rec.substr(0, results::nameBytes));
        const std::u16string& name = lists.seisekinamae[i];
        FUZZ_CHECK(name.empty() || (name.back() != u' ' && name.back() != u'\0'));
        FUZZ_CHECK(name.size() <= results::nameBytes);
    }

    // Save.
    const results::NewEntry entry = fuzz::entryFrom(data, size);
    const std::string saved = fuzz::savedImage(input, entry);
    FUZZ_CHECK(saved.size() == std::max(savedLength, input.size()));
    FUZZ_CHECK(part(saved, savedLength) == part(input, savedLength));
    for (int n = 22; n <= results::entryCount; ++n)
        FUZZ_CHECK(part(saved, std::size_t(n - 1) * record, record) == blankRecord);
    FUZZ_CHECK(part(saved, 20 * record, record) == recordAsRead(input, 21));
    for (int range = 0; range < rangeCount; ++range) {
        const int first = range * results::places + 1;
        std::vector<std::string> expected;
        for (int p = 0; p < results::places; ++p)
            expected.push_back(recordAsRead(input, first + p));
        if (range == entry.hani) {
            for (int p = 0; p < results::places; ++p) {
                if (scoreOf(expected[p]) <= entry.tensu) {
                    expected.insert(expected.begin() + p, results::encodeName(entry.name) + scoreBytes(entry.tensu));
                    expected.pop_back();
                    break;
                }
            }
        }
        for (int p = 0; p < results::places; ++p)
            FUZZ_CHECK(part(saved, std::size_t(first - 1 + p) * record, record) == expected[std::size_t(p)]);
    }

    // Blank.
    const std::string blanked = fuzz::blankedImage(saved);
    FUZZ_CHECK(blanked.size() == saved.size());
    std::string blankHead;
    for (int i = 0; i < results::readCount; ++i)
        blankHead += blankRecord;
    FUZZ_CHECK(blanked.substr(0, readLength) == blankHead);
    FUZZ_CHECK(part(blanked, readLength) == part(saved, readLength));

    // The next opening finds blank lists.
    results::BestFiveLists again;
    results::readLists(blanked, again);
    for (int i = 0; i < results::readCount; ++i)
        FUZZ_CHECK(again.seisekijikan[i] == 0 && again.seisekinamae[i].empty());
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/module1.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The rankings behind the results window: the best-five lists kept in tavon.rnk, their
// records, and the entering of a new score, as pure transformations of text and bytes.
// Text is UTF-16 (std::u16string, as QString and JavaScript strings hold it); bytes are
// std::string.
namespace results {

inline constexpr int nameBytes = 10;   // Shift-JIS name field of a record
inline constexpr int recordBytes = 12; // name field, then a 16-bit little-endian score
inline constexpr int entryCount = 75;  // entries of the lists; Save writes records 1..75
inline constexpr int readCount = 21;   // records 1..21 are read back, and cleared by Blank
inline constexpr int places = 5;       // entries per range
inline constexpr std::size_t savedBytes = std::size_t(entryCount) * recordBytes; // what Save writes
inline constexpr std::size_t readBytes = std::size_t(readCount) * recordBytes;   // what Read takes, Blank clears
inline constexpr int runPlaces = Module1::runRankingPlaces;

// Shown in the row of a new entry until the player types a name; never stored.
inline const std::u16string hereMark = u"ここです！";

// A name as it is shown and stored: without control characters (line breaks, tabs). Names
// are stored in Unicode normal form C (a kana followed by a combining voiced mark becomes the
// voiced kana); that normalisation is the platform's, done before this on the text as typed
// (QString::normalized on the desktop, String.prototype.normalize("NFC") in a browser).
std::u16string typedName(std::u16string_view text);

// Whether all of the name's characters fit its field, a character stored as "?" taking one
// byte. A name that fits is stored whole; the name box accepts no more.
bool nameFits(std::u16string_view name);

// The name as its 10-byte Shift-JIS field: whole characters only, as many as fit, padded
// with spaces. A character with no Shift-JIS form is stored as "?".
std::string encodeName(std::u16string_view name);

// The name held in a name field. Trailing spaces and NUL bytes are padding; bytes that are
// no Shift-JIS character read as U+FFFD.
std::u16string decodeName(std::string_view field);

// A record as stored: exactly 12 bytes.
std::string packRecord(const Module1::seiseki& record);
// A record from its 12 stored bytes; fewer bytes (a record cut short by the file's end) read as blank.
Module1::seiseki unpackRecord(std::string_view bytes);

// The best-five lists: range r owns entries r*5 (place 1) to r*5+4 (place 5).
struct BestFiveLists {
    std::int16_t seisekijikan[entryCount] = {}; // scores
    std::u16string seisekinamae[entryCount];    // names as shown
    // Name fields as they were read, so that an entry the player left alone goes back to the
    // file byte for byte; empty for entries that did not come from the file.
    std::string stored[entryCount];

    // The name field to write for entry i.
    std::string nameField(int i) const;

    // Enters a score into the list of range hani: it takes the first place whose score is
    // lower than or equal to it (so it stands above equal scores), the entries below move
    // down one place and the fifth falls out. The new entry's name is the mark "ここです！".
    // Returns the index of the new entry, or -1 when the score is lower than all five.
    int enter(std::int16_t hani, std::int16_t tensu);

    static bool hasRange(std::int16_t hani) { return hani >= 0 && hani * places + places <= entryCount; }
};

// The entry that one opening of the results window adds: its range, its score and the name
// the player typed.
struct NewEntry {
    std::int16_t hani = 0;
    std::int16_t tensu = 0;
    std::u16string name;
};

// The lists as the file's first bytes (head) hold them: entries 0 to 20 from records 1 to 21,
// records missing at the end read as blank.
void readLists(std::string_view head, BestFiveLists& lists);

// Records 1 to 75 as Save writes them: the lists that head holds, with the new entry entered
// into its range; records 22 to 75 blank.
std::string savedRecords(std::string_view head, const NewEntry& entry);

// Records 1 to 21 as Blank writes them.
std::string blankedRecords();

// The whole image of the file (its bytes) after Save of entry: the records Save writes, then
// the image's own bytes beyond them, kept as they are. Never shorter than savedBytes.
std::string savedImage(std::string_view image, const NewEntry& entry);

// The whole image after Blank: records 1 to 21 blank, then the image's own bytes beyond them.
std::string blankedImage(std::string_view image);

// Enters a score into one range's row of the run ranking (three places, best first) by the
// same rule. Returns the place taken, or -1 when the score is lower than all three.
int enterRunRanking(std::int16_t (&row)[runPlaces], std::int16_t tensu);

// What one opening of the results window does with the score it is handed: a score of 0 (an
// opening for viewing), or one already found short of the lists (touroku 1), enters nothing.
// Any other score enters the run's best three of range hani and, where it reaches them, the
// best five; a score short of the best five sets touroku to 1. Returns the index of the new
// entry in the lists (koko), or -1 when the score did not enter them.
int enterScore(BestFiveLists& lists, std::int16_t (&anatakiroku)[Module1::runRankingRows][runPlaces], std::int16_t hani,
               std::int16_t tensu, std::int16_t& touroku);

} // namespace results

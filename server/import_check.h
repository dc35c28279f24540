// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a teacher may load into a class (POST …/import, and …/import/check before it): only a
// file that the desktop program would read as its tavon.rnk and show as lists. The desktop
// writes 252 bytes (records 1 to 21) at a 初期化 of a new file and 900 (records 1 to 75) at
// every save; each record a name field as its name box lets a name be (Shift-JIS characters
// without control characters, padded with spaces or NUL bytes) and a score of 0 to 50. A file
// of any other size, or with a record that no game and no name box could have written (a
// negative score, control bytes, bytes that are no Shift-JIS character), is some other file:
// the desktop would show its bytes as names and scores of nonsense.
#include <optional>
#include <string>
#include <string_view>

namespace server {

struct ImportRefusal {
    int status;         // 413 for a file larger than a ranking file, else 400
    std::string reason; // in Japanese, for the teacher: what is wrong with the file
};

// Why file cannot be loaded as a class's lists, or nothing when it can.
std::optional<ImportRefusal> importRefusal(std::string_view file);

} // namespace server

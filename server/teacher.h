// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The teacher's side: the page at /t/KEY/ (static HTML, script and style, built into the
// program), and the CSV of a class's entries.
#include "server/api.h"
#include "server/store.h"

#include <string>
#include <string_view>
#include <vector>

namespace server {

// A file of the teacher's page: "" or "index.html", "teacher.js", "teacher.css", "round.js", "round.css".
Response teacherPageFile(std::string_view name);

// The entries as a table for a spreadsheet: UTF-8 with a byte order mark, a heading row, one
// row per entry, its time in the server's local time with its offset (localTimeText); a name
// that begins with = + - @ gets a leading ' so that it stays text.
std::string entriesCsv(const std::vector<EntryRow>& entries);

} // namespace server

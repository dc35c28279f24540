// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the two stores share of their databases: the schema, written once with the words in
// which SQLite and PostgreSQL differ filled in, and the one list of the failures after which a
// request may be tried again (StoreDown) rather than refused.
#include <string>
#include <string_view>

namespace server {

struct SqlWords {
    const char* serial;    // a key the database numbers
    const char* number;    // a 64-bit whole number
    const char* bytes;     // a blob
    const char* keyedRows; // after a table whose rows are kept in the order of their primary key
};
inline constexpr SqlWords sqliteWords{"INTEGER PRIMARY KEY", "INTEGER", "BLOB", "WITHOUT ROWID"};
inline constexpr SqlWords postgresWords{"BIGSERIAL PRIMARY KEY", "BIGINT", "BYTEA", ""};

// The statements that take the schema from version - 1 to version (1 to schemaVersion).
std::string schemaStep(int version, const SqlWords& words);

// A failure that passes: the database busy, locked, unreachable, out of room or shutting down.
// sqliteCode is a result code (extended or primary); sqlState a PostgreSQL SQLSTATE.
bool sqliteTransient(int sqliteCode);
bool postgresTransient(std::string_view sqlState);

} // namespace server

// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/schema.h"

#include "server/store.h"

#include <sqlite3.h>

#include <stdexcept>

namespace server {

namespace {

// Version n's statements; $SERIAL, $NUMBER, $BYTES and $KEYEDROWS stand for the database's
// words, $KEPT for historyKept.
const char* const steps[] = {
    R"(CREATE TABLE settings (name TEXT PRIMARY KEY, value TEXT NOT NULL);
       CREATE TABLE classes (id $SERIAL, name TEXT NOT NULL, class_key TEXT NOT NULL,
           teacher_key TEXT NOT NULL, class_hash TEXT NOT NULL UNIQUE, teacher_hash TEXT NOT NULL UNIQUE,
           image $BYTES NOT NULL);
       CREATE TABLE entries (seq $SERIAL, class_id $NUMBER NOT NULL REFERENCES classes(id) ON DELETE CASCADE,
           client_id TEXT NOT NULL, time TEXT NOT NULL, hani INTEGER NOT NULL, tensu INTEGER NOT NULL,
           name TEXT NOT NULL, UNIQUE (class_id, client_id));
       CREATE TABLE history (number $SERIAL, class_id $NUMBER NOT NULL REFERENCES classes(id) ON DELETE CASCADE,
           client_id TEXT, time TEXT NOT NULL, what TEXT NOT NULL, image $BYTES NOT NULL, UNIQUE (class_id, client_id));)",
    // The points: a class's base and the last entry before it (a class with no history has
    // had none, and replays every entry from nothing; one with history takes its image as it
    // is as its base), and a past state's base (taken as its image, its last entry as the last
    // one saved by its time).
    R"(ALTER TABLE classes ADD COLUMN pupils_blank INTEGER NOT NULL DEFAULT 1;
       ALTER TABLE classes ADD COLUMN base $BYTES NOT NULL DEFAULT '';
       ALTER TABLE classes ADD COLUMN base_seq $NUMBER NOT NULL DEFAULT 0;
       ALTER TABLE entries ADD COLUMN removed INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE history ADD COLUMN base $BYTES NOT NULL DEFAULT '';
       ALTER TABLE history ADD COLUMN base_seq $NUMBER NOT NULL DEFAULT 0;
       UPDATE classes SET base = image,
           base_seq = COALESCE((SELECT MAX(seq) FROM entries WHERE class_id = classes.id), 0)
           WHERE EXISTS (SELECT 1 FROM history WHERE class_id = classes.id);
       UPDATE history SET base = image, base_seq = COALESCE((SELECT MAX(seq) FROM entries
           WHERE entries.class_id = history.class_id AND entries.time <= history.time), 0);
       DELETE FROM history WHERE number NOT IN (SELECT h.number FROM history h
           WHERE h.class_id = history.class_id ORDER BY h.number DESC LIMIT $KEPT);
       CREATE INDEX entries_class ON entries (class_id, seq);)",
    // The games played on tickets: one per ticket of a class, found by it. A save writes one
    // row into one tree (SQLite: without a rowid, no index besides the key); the teacher's
    // reads of a class's games take the key's prefix and sort them by time.
    R"(CREATE TABLE games (class_id $NUMBER NOT NULL REFERENCES classes(id) ON DELETE CASCADE, ticket TEXT NOT NULL,
           time TEXT NOT NULL, seed $NUMBER NOT NULL, hani INTEGER NOT NULL, tensu INTEGER NOT NULL, log TEXT NOT NULL,
           PRIMARY KEY (class_id, ticket)) $KEYEDROWS;)",
    // The class rounds: each round, the devices joined to it (the name each last sent, the
    // shortest round trip measured), and their answers, one per device and question. Times are
    // milliseconds since 1970; a name or round trip not yet sent is NULL.
    R"(CREATE TABLE rounds (class_id $NUMBER NOT NULL REFERENCES classes(id) ON DELETE CASCADE, number $NUMBER NOT NULL,
           hani INTEGER NOT NULL, tick INTEGER NOT NULL, seed $NUMBER NOT NULL, start_ms $NUMBER NOT NULL,
           end_ms $NUMBER NOT NULL, PRIMARY KEY (class_id, number)) $KEYEDROWS;
       CREATE TABLE round_devices (class_id $NUMBER NOT NULL, number $NUMBER NOT NULL, device TEXT NOT NULL, name TEXT,
           shortest $NUMBER, joined_ms $NUMBER NOT NULL, PRIMARY KEY (class_id, number, device),
           FOREIGN KEY (class_id, number) REFERENCES rounds (class_id, number) ON DELETE CASCADE) $KEYEDROWS;
       CREATE TABLE round_answers (class_id $NUMBER NOT NULL, number $NUMBER NOT NULL, device TEXT NOT NULL,
           question INTEGER NOT NULL, button INTEGER NOT NULL, points INTEGER NOT NULL, counted INTEGER NOT NULL,
           is_right INTEGER NOT NULL, received_ms $NUMBER NOT NULL, PRIMARY KEY (class_id, number, device, question),
           FOREIGN KEY (class_id, number, device) REFERENCES round_devices (class_id, number, device) ON DELETE CASCADE)
           $KEYEDROWS;)",
};
static_assert(std::size(steps) == schemaVersion);

} // namespace

std::string schemaStep(int version, const SqlWords& words)
{
    if (version < 1 || version > schemaVersion)
        throw std::out_of_range("no such schema version");
    std::string sql = steps[version - 1];
    const std::string kept = std::to_string(historyKept);
    for (const auto& [word, meant] : {std::pair{"$SERIAL", words.serial},
                                      {"$KEYEDROWS", words.keyedRows},
                                      {"$NUMBER", words.number},
                                      {"$BYTES", words.bytes},
                                      {"$KEPT", kept.c_str()}})
        for (std::size_t at; (at = sql.find(word)) != std::string::npos;)
            sql.replace(at, std::string_view(word).size(), meant);
    return sql;
}

bool sqliteTransient(int sqliteCode)
{
    switch (sqliteCode & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_NOMEM: return true;
    default: return false;
    }
}

bool postgresTransient(std::string_view sqlState)
{
    // 08 connection, 53 resources (disk full, memory), 57P shutting down, 40001/40P01 a
    // serialisation failure or deadlock, 25006 a read-only transaction (a standby).
    for (const std::string_view prefix : {"08", "53", "57P", "40001", "40P01", "25006"})
        if (sqlState.substr(0, prefix.size()) == prefix)
            return true;
    return false;
}

} // namespace server

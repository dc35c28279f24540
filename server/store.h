// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the classes live: each class's name, its two keys, its image (the bytes of its
// tavon.rnk, as the desktop keeps the file), every entry saved into it, and its history (the
// image as it stood before each 初期化, import or restore; the last historyKept of them).
// Two stores keep the same things:
// SQLite in one file under the data folder (the default), and PostgreSQL, which several
// server processes can share.
//
// Every change is applied whole or not at all: the class's image is read under the database's
// write lock for that class, the change is applied to it, and the new image is written
// together with the change's row. A change carries the id its client gave it; a change whose
// id is already stored for the class stores nothing and gives back the image as it is.
// Changes that arrive while another thread commits wait, and are then applied one after
// another in one transaction (one that fails is undone alone) and committed together: a
// commit's flush to the disk takes milliseconds, and a class of forty saving at once then
// waits for a few flushes instead of forty. No change is acknowledged before its commit is
// durable.
//
// A 初期化, an import or a restore is a point of the class: the class keeps its image as it
// stood just after the last point (its base) and which entries were saved before it. The
// class's image is always the base with the entries saved since the point, less the removed
// ones, entered in their order by the game library's Save (replayed). A save enters its entry
// into the image; taking an entry down (or putting it back) marks it and, when it was saved
// since the point, replays the image. Each past state keeps the base it stood on; a restore of
// the lists before a point makes that base the class's again, and replays onto it every entry
// saved since it: the lists as they were, with every later entry entered again. A store is used by many threads at
// once; each call takes a connection of its own.
#include "rules/ranking.h"

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

// The database cannot be reached, or stayed busy past the wait: the request may be tried
// again. Nothing of the call was stored.
struct StoreDown : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ClassInfo {
    std::int64_t id = 0;
    std::string name;         // UTF-8
    std::string classKey;     // the pupils' key
    std::string teacherKey;   // the teacher's key
    std::string image;        // the class's tavon.rnk; empty until the first save
    bool pupilsBlank = true;  // whether a pupil's 初期化 blanks the class's lists
    std::string base;         // the image as it stood just after the class's last point
    std::int64_t baseSeq = 0; // the entries numbered after it are replayed onto base
};

// A saved entry: the client's id, the server's time (UTC, ISO 8601), and what was saved.
struct EntryRow {
    std::string id;
    std::string time;
    int range = 0;
    int score = 0;
    std::string name;     // UTF-8, as the pupil typed it
    bool removed = false; // taken down by the teacher: kept, but out of the lists
    std::int64_t seq = 0; // the entry's number in the order of saving
};

// A game played on a ticket, as the class keeps it (an entry's game, or a game that entered no
// list): nothing of the pupil or the device, only what the class's picture of its answers needs.
struct GameRow {
    std::string ticket; // its text: a class uses a ticket once
    std::uint32_t seed = 0;
    int range = 0;
    int score = 0;    // the replay's
    std::string log;  // rules/game_log.h
    std::string time; // the server's time it was stored (UTC, ISO 8601)
};

// The image as it stood before a 初期化 ("blank"), an import ("import") or a restore ("restore").
struct HistoryRow {
    std::int64_t number = 0; // by which a restore names it
    std::string id;          // the client's id of a 初期化; empty for the teacher's changes
    std::string time;
    std::string what;
    std::string image;
};

// One change of a class's image. With a game, the game is stored with it, using its ticket; a
// change with a game and neither entry nor mark changes nothing else (a game that entered no
// list). With an entry, the entry is stored with it and entered by
// apply. With a marked entry, that entry is taken down or put back. Otherwise the change is a
// point: the image before it goes to the history as `what`, and the image after it is what
// apply makes of it, or with `restore` the history's image of that number with the entries
// saved since replayed onto it.
struct Change {
    std::string id; // the client's id; empty for none (the teacher's changes are never repeated)
    std::string what;
    std::optional<EntryRow> entry;
    std::function<std::string(const std::string& image)> apply;
    std::int64_t restore = 0;        // a history number
    std::optional<std::string> mark; // the client's id of the entry taken down or put back
    bool removed = false;            // taken down (true) or put back (false)
    std::optional<GameRow> game;     // the game played for it, on its ticket
};

// The change's game has a ticket another game of the class was stored with. (A game alone
// sent again with the ticket and log stored is a repeat: nothing stored, no error.)
struct TicketUsed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The entry a change marks, or the history a restore names, is not the class's.
struct NotFound : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The image the entries (those not removed) make when entered in their order onto base.
std::string replayed(std::string base, const std::vector<EntryRow>& entries);

// How many states of a class's history are kept: the oldest go first.
inline constexpr int historyKept = 50;

// What a class's hearers are told (Store::hear): its lists or settings changed; one of its
// rounds started; a device joined its latest round or answered in it.
enum class ClassEvent { changed, roundStarted, roundMoved };

class RoundStore; // round_store.h

struct Outcome {
    std::string image; // the class's image after the change (or as it is, for a repeated id)
    bool applied = false;
};

class Store {
public:
    virtual ~Store() = default;

    // Creates the class (keys and name as given, image empty). Throws when a key is taken.
    virtual void addClass(const ClassInfo& info) = 0;
    virtual std::vector<ClassInfo> classes() = 0; // without images
    virtual bool removeClass(std::int64_t id) = 0;
    // The class whose pupils' (or teacher's) key this is, with its image; looked up by the
    // key's hash.
    virtual std::optional<ClassInfo> findClass(std::string_view key, bool teacher) = 0;
    // Applies the change at `time`, in one transaction with the changes of other threads that
    // are waiting for their turn with it; returns once that transaction is committed. Throws
    // what applying it threw (nothing of it stored), or what the transaction as a whole threw
    // (nothing of any of its changes stored).
    Outcome change(std::int64_t classId, const Change& change, const std::string& time);
    virtual std::vector<EntryRow> entries(std::int64_t classId) = 0;   // oldest first
    virtual std::vector<HistoryRow> history(std::int64_t classId) = 0; // oldest first
    // The class's games stored at `since` (a time as the stores write it) or later; "" for all.
    virtual std::vector<GameRow> games(std::int64_t classId, std::string_view since) = 0; // oldest first
    virtual std::optional<std::string> historyImage(std::int64_t classId, std::int64_t number) = 0;
    // Whether a pupil's 初期化 blanks the class's lists.
    virtual void setPupilsBlank(std::int64_t classId, bool blanks) = 0;
    // Settings kept with the data (the base URL of the links).
    virtual std::optional<std::string> setting(std::string_view name) = 0;
    virtual void setSetting(std::string_view name, std::string_view value) = 0;
    // The setting's value, storing `value` first where it has none: of servers starting at
    // once on the same data, the first one's.
    virtual std::string keepSetting(std::string_view name, std::string_view value) = 0;

    // The class's rounds (round_store.h), on the same database.
    virtual RoundStore& rounds() = 0;

    // Who is told of the classes' changes (the event streams): after each commit that changed
    // something of a class (a change applied, the pupils' setting, a round started, joined or
    // answered), on the committing thread, heard(the class's id, what). Set once, before the
    // store is shared. A store whose database tells every process instead (changesHeardAt)
    // calls it never.
    void hear(std::function<void(std::int64_t classId, ClassEvent what)> heard);
    // Where every process's changes can be heard: the libpq connection string of a PostgreSQL
    // store, each of whose changes NOTIFYs changesChannel in its own transaction with the
    // payload changePayload gives; empty for a store that only this process changes (SQLite).
    virtual std::string changesHeardAt() const { return {}; }

    // Tells `heard`, when set.
    void changedClass(std::int64_t classId, ClassEvent what = ClassEvent::changed);

protected:
    // A change waiting for its transaction, and what became of it.
    struct Pending {
        std::int64_t classId;
        const Change& change;
        const std::string& time;
        Outcome outcome;
        std::exception_ptr error; // what applying it threw; it was then undone
        bool done = false;
    };
    // Applies the changes in one transaction, in turn: a change that throws stores nothing, and
    // its exception is kept in its error. Changes to one class are applied in their order in
    // the batch. Throws, with nothing stored, when the
    // transaction as a whole fails (the database unreachable, its commit refused).
    virtual void changeTogether(const std::vector<Pending*>& batch) = 0;

private:
    void tell(const std::string& why);

    std::function<void(std::int64_t, ClassEvent)> heard;
    std::mutex turn;
    std::condition_variable turnOver;
    std::vector<Pending*> waiting;
    bool committing = false;
    std::string lastTold;
    std::chrono::steady_clock::time_point toldAt;
};

// The PostgreSQL channel of the classes' changes (Store::changesHeardAt).
inline constexpr const char* changesChannel = "nubora1_changes";
// A notice's payload: the class's id, then " start" for a round started, " round" for a
// device joined or answering; the id alone for a change of the lists. What a payload says:
// the class's id (0 when it is none) and what.
std::string changePayload(std::int64_t classId, ClassEvent what);
std::pair<std::int64_t, ClassEvent> readChangePayload(std::string_view payload);

// The schema's version that this program writes; each store creates or upgrades its schema to
// it when it opens, and refuses a database from a later version. Version 2 added the points
// (the base and its last entry, of a class and of each past state), removed entries and
// pupils_blank; version 3 the games; version 4 the rounds (round_store.h).
inline constexpr int schemaVersion = 4;

// The SQLite store in dataDir/nubora1.sqlite. The folder is created, private to the server's
// user (0700), and so are the database's files (0600, its -wal and -shm too), whatever the
// umask. When the folder or the file cannot be written (read-only, a full disk), the store
// says why on stderr and opens read-only: the lists are served, and every change throws
// StoreDown.
std::unique_ptr<Store> openSqliteStore(const std::string& dataDir);
// The PostgreSQL store at a libpq connection string (postgresql://…).
std::unique_ptr<Store> openPostgresStore(const std::string& conninfo);

// A time (seconds since 1970) as the stores write it: UTC, "2026-12-10T05:15:47Z".
std::string timeText(std::time_t time);
// Now, as the stores write time.
std::string timeNow();
// `time` in the server's local time (the process's time zone, TZ): how the class's day and
// week are found, and how a spreadsheet shows a stored time.
std::tm localTime(std::time_t time);
// A stored time (as timeText writes it) in the server's local time with its offset from UTC:
// "2026-12-10 14:15:47+09:00"; a text that is no such time is given back as it is.
std::string localTimeText(const std::string& stored);

} // namespace server

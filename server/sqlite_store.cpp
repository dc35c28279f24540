// SPDX-License-Identifier: GPL-3.0-or-later
// The SQLite store: one file, DIR/nubora1.sqlite, in WAL mode, so that readers never wait for
// a save and a save waits only for another save. Each transaction of saves is BEGIN IMMEDIATE
// (the write lock taken at once, so two saves never both read the old image), waiting up to
// busyMilliseconds for the lock (which another process, such as `class add`, may hold).
// synchronous=FULL: a commit returns after the WAL is on the disk, so an acknowledged save
// survives both a crash of the process and a power loss.
#include "server/encoding.h"
#include "server/round_store.h"
#include "server/schema.h"
#include "server/sqlite_connection.h"
#include "server/store.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace server {

namespace {

using sqlitedb::Connection;
using sqlitedb::Lease;
using sqlitedb::Pool;
using sqlitedb::Query;

class SqliteStore : public Store {
public:
    // The schema made or upgraded; when that cannot be written, the store is read-only.
    explicit SqliteStore(std::string path)
        : path(path), pool{std::move(path)},
          roundStore(sqliteRounds(pool, [this](std::int64_t classId, ClassEvent what) { changedClass(classId, what); }))
    {
        try {
            makePrivate(this->path);
            Lease c(pool);
            c->transaction([&] {
                c->exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
                Query q = c->query("SELECT version FROM schema_version");
                int version = q.step() ? int(q.number(0)) : 0;
                if (version > schemaVersion)
                    throw std::runtime_error("the database was written by a later version of nubora1-server");
                if (version == schemaVersion)
                    return 0;
                while (version < schemaVersion)
                    c->exec(schemaStep(++version, sqliteWords));
                c->exec("DELETE FROM schema_version");
                c->query("INSERT INTO schema_version (version) VALUES (?)").bind(std::int64_t(schemaVersion)).step();
                return 0;
            });
            makePrivate(this->path); // the -wal and -shm the first connection made
        } catch (const StoreDown& e) {
            std::cerr << "nubora1-server: cannot write " << this->path << " (" << e.what()
                      << "); serving the lists as they are, and saves answer 503 until the server is restarted"
                      << std::endl;
            std::lock_guard lock(pool.mutex);
            pool.idle.clear();
            pool.readOnly = true;
        }
    }

    RoundStore& rounds() override { return *roundStore; }

    void addClass(const ClassInfo& info) override
    {
        Lease c(pool);
        c->transaction([&] {
            c->query("INSERT INTO classes (name, class_key, teacher_key, class_hash, teacher_hash, image) "
                     "VALUES (?, ?, ?, ?, ?, ?)")
                .bind(info.name)
                .bind(info.classKey)
                .bind(info.teacherKey)
                .bind(keyHash(info.classKey))
                .bind(keyHash(info.teacherKey))
                .blob("")
                .step();
            return 0;
        });
    }

    std::vector<ClassInfo> classes() override
    {
        Lease c(pool);
        std::vector<ClassInfo> list;
        Query q = c->query("SELECT id, name, class_key, teacher_key FROM classes ORDER BY id");
        while (q.step())
            list.push_back({q.number(0), q.text(1), q.text(2), q.text(3), {}});
        return list;
    }

    bool removeClass(std::int64_t id) override
    {
        Lease c(pool);
        return c->transaction([&] {
            c->query("DELETE FROM classes WHERE id = ?").bind(id).step();
            return sqlite3_changes(c->db) > 0;
        });
    }

    std::optional<ClassInfo> findClass(std::string_view key, bool teacher) override
    {
        Lease c(pool);
        Query q = c->query(teacher ? "SELECT id, name, class_key, teacher_key, image, pupils_blank, base, base_seq "
                                     "FROM classes WHERE teacher_hash = ?"
                                   : "SELECT id, name, class_key, teacher_key, image, pupils_blank, base, base_seq "
                                     "FROM classes WHERE class_hash = ?");
        if (!q.bind(keyHash(key)).step())
            return std::nullopt;
        return ClassInfo{q.number(0), q.text(1),        q.text(2), q.text(3),
                         q.text(4),   q.number(5) != 0, q.text(6), q.number(7)};
    }

    void changeTogether(const std::vector<Pending*>& batch) override
    {
        if (pool.readOnly)
            throw StoreDown("the data folder cannot be written");
        Lease c(pool);
        c->transaction([&] {
            for (Pending* p : batch) {
                c->exec("SAVEPOINT one");
                try {
                    p->outcome = applyChange(*c, p->classId, p->change, p->time);
                } catch (const StoreDown&) {
                    throw; // the database failed: the whole transaction goes
                } catch (...) {
                    p->error = std::current_exception();
                    c->exec("ROLLBACK TO one");
                }
                c->exec("RELEASE one");
            }
            return 0;
        });
    }

    std::vector<EntryRow> entries(std::int64_t classId) override
    {
        Lease c(pool);
        return entriesSince(*c, classId, 0);
    }

    std::vector<HistoryRow> history(std::int64_t classId) override
    {
        Lease c(pool);
        std::vector<HistoryRow> list;
        Query q =
            c->query("SELECT number, client_id, time, what, image FROM history WHERE class_id = ? ORDER BY number");
        q.bind(classId);
        while (q.step())
            list.push_back({q.number(0), q.text(1), q.text(2), q.text(3), q.text(4)});
        return list;
    }

    std::optional<std::string> historyImage(std::int64_t classId, std::int64_t number) override
    {
        Lease c(pool);
        Query q = c->query("SELECT image FROM history WHERE class_id = ? AND number = ?");
        if (!q.bind(classId).bind(number).step())
            return std::nullopt;
        return q.text(0);
    }

    std::vector<GameRow> games(std::int64_t classId, std::string_view since) override
    {
        Lease c(pool);
        std::vector<GameRow> list;
        Query q = c->query(
            "SELECT ticket, seed, hani, tensu, log, time FROM games WHERE class_id = ? AND time >= ? ORDER BY time");
        q.bind(classId).bind(since);
        while (q.step())
            list.push_back(
                {q.text(0), std::uint32_t(q.number(1)), int(q.number(2)), int(q.number(3)), q.text(4), q.text(5)});
        return list;
    }

    void setPupilsBlank(std::int64_t classId, bool blanks) override
    {
        Lease c(pool);
        c->transaction([&] {
            c->query("UPDATE classes SET pupils_blank = ? WHERE id = ?")
                .bind(std::int64_t(blanks))
                .bind(classId)
                .step();
            return 0;
        });
        changedClass(classId);
    }

    std::optional<std::string> setting(std::string_view name) override
    {
        Lease c(pool);
        Query q = c->query("SELECT value FROM settings WHERE name = ?");
        if (!q.bind(name).step())
            return std::nullopt;
        return q.text(0);
    }

    void setSetting(std::string_view name, std::string_view value) override
    {
        Lease c(pool);
        c->transaction([&] {
            c->query("INSERT INTO settings (name, value) VALUES (?, ?) ON CONFLICT (name) DO UPDATE SET value = "
                     "excluded.value")
                .bind(name)
                .bind(value)
                .step();
            return 0;
        });
    }

    std::string keepSetting(std::string_view name, std::string_view value) override
    {
        if (std::optional<std::string> kept = setting(name))
            return *kept; // a read-only store reads it too
        Lease c(pool);
        return c->transaction([&] {
            c->query("INSERT INTO settings (name, value) VALUES (?, ?) ON CONFLICT (name) DO NOTHING")
                .bind(name)
                .bind(value)
                .step();
            Query q = c->query("SELECT value FROM settings WHERE name = ?");
            q.bind(name).step();
            return q.text(0);
        });
    }

private:
    // One change, inside the transaction.
    static Outcome applyChange(Connection& c, std::int64_t classId, const Change& change, const std::string& time)
    {
        Query row = c.query("SELECT image, base, base_seq FROM classes WHERE id = ?");
        if (!row.bind(classId).step())
            throw std::runtime_error("no such class");
        Outcome outcome{row.text(0), false};
        std::string base = row.text(1);
        std::int64_t baseSeq = row.number(2);
        if (!change.id.empty()) {
            Query seen = c.query(change.entry ? "SELECT 1 FROM entries WHERE class_id = ? AND client_id = ?"
                                              : "SELECT 1 FROM history WHERE class_id = ? AND client_id = ?");
            if (seen.bind(classId).bind(change.id).step())
                return outcome;
        }
        if (change.game && !change.entry && !change.mark) {
            outcome.applied = storeGame(c, classId, *change.game, time, true);
            return outcome;
        }
        const std::string before = std::move(outcome.image);
        outcome.applied = true;
        if (change.entry) {
            outcome.image = change.apply(before);
            if (change.game)
                storeGame(c, classId, *change.game, time, false);
            const EntryRow& e = *change.entry;
            c.query("INSERT INTO entries (class_id, client_id, time, hani, tensu, name) VALUES (?, ?, ?, ?, ?, ?)")
                .bind(classId)
                .bind(change.id)
                .bind(time)
                .bind(std::int64_t(e.range))
                .bind(std::int64_t(e.score))
                .bind(e.name)
                .step();
        } else if (change.mark) {
            Query entry = c.query("SELECT seq FROM entries WHERE class_id = ? AND client_id = ?");
            if (!entry.bind(classId).bind(*change.mark).step())
                throw NotFound("no such entry");
            const std::int64_t seq = entry.number(0);
            c.query("UPDATE entries SET removed = ? WHERE seq = ?").bind(std::int64_t(change.removed)).bind(seq).step();
            outcome.image = seq > baseSeq ? replayed(base, entriesSince(c, classId, baseSeq)) : before;
        } else {
            Query last = c.query("SELECT COALESCE(MAX(seq), 0) FROM entries WHERE class_id = ?");
            last.bind(classId).step();
            const std::string pastBase = base;
            const std::int64_t pastSeq = baseSeq;
            if (change.restore) {
                Query past = c.query("SELECT base, base_seq FROM history WHERE class_id = ? AND number = ?");
                if (!past.bind(classId).bind(change.restore).step())
                    throw NotFound("no such history");
                base = past.text(0);
                baseSeq = past.number(1);
                outcome.image = replayed(base, entriesSince(c, classId, baseSeq));
            } else {
                outcome.image = base = change.apply(before);
                baseSeq = last.number(0);
            }
            c.query("INSERT INTO history (class_id, client_id, time, what, image, base, base_seq) VALUES (?, ?, ?, ?, "
                    "?, ?, ?)")
                .bind(classId)
                .textOrNull(change.id)
                .bind(time)
                .bind(change.what)
                .blob(before)
                .blob(pastBase)
                .bind(pastSeq)
                .step();
            c.query("DELETE FROM history WHERE class_id = ? AND number NOT IN "
                    "(SELECT number FROM history WHERE class_id = ? ORDER BY number DESC LIMIT ?)")
                .bind(classId)
                .bind(classId)
                .bind(std::int64_t(historyKept))
                .step();
            c.query("UPDATE classes SET base = ?, base_seq = ? WHERE id = ?")
                .blob(base)
                .bind(baseSeq)
                .bind(classId)
                .step();
        }
        c.query("UPDATE classes SET image = ? WHERE id = ?").blob(outcome.image).bind(classId).step();
        return outcome;
    }

    // Stores the game, using its ticket; false for a game alone sent again (its ticket stored
    // with its log). Throws TicketUsed when another game used the ticket.
    static bool storeGame(Connection& c, std::int64_t classId, const GameRow& g, const std::string& time, bool alone)
    {
        c.query("INSERT INTO games (class_id, ticket, time, seed, hani, tensu, log) VALUES (?, ?, ?, ?, ?, ?, ?) "
                "ON CONFLICT (class_id, ticket) DO NOTHING")
            .bind(classId)
            .bind(g.ticket)
            .bind(time)
            .bind(std::int64_t(g.seed))
            .bind(std::int64_t(g.range))
            .bind(std::int64_t(g.score))
            .bind(g.log)
            .step();
        if (sqlite3_changes(c.db) > 0)
            return true;
        Query used = c.query("SELECT log FROM games WHERE class_id = ? AND ticket = ?");
        if (alone && used.bind(classId).bind(g.ticket).step() && used.text(0) == g.log)
            return false;
        throw TicketUsed("ticket already used");
    }

    // The class's entries saved after seq, oldest first.
    static std::vector<EntryRow> entriesSince(Connection& c, std::int64_t classId, std::int64_t seq)
    {
        std::vector<EntryRow> list;
        Query q = c.query("SELECT client_id, time, hani, tensu, name, removed, seq FROM entries WHERE class_id = ? AND "
                          "seq > ? ORDER BY seq");
        q.bind(classId).bind(seq);
        while (q.step())
            list.push_back(
                {q.text(0), q.text(1), int(q.number(2)), int(q.number(3)), q.text(4), q.number(5) != 0, q.number(6)});
        return list;
    }

    // The folder 0700 and the database's files 0600, made so when they are not. The file is
    // created 0600 only where it is missing: opening and closing a file that this process's
    // connections hold would drop their POSIX locks on it, and another process closing its
    // last connection would then take the WAL from under them.
    static void makePrivate(const std::string& path)
    {
        ::chmod(std::filesystem::path(path).parent_path().c_str(), 0700);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            ::chmod((path + suffix).c_str(), 0600);
    }

    std::string path;
    Pool pool;
    std::unique_ptr<RoundStore> roundStore;
};

} // namespace

std::unique_ptr<Store> openSqliteStore(const std::string& dataDir)
{
    std::error_code error;
    std::filesystem::create_directories(dataDir, error);
    struct statvfs disk {};
    if (error)
        std::cerr << "nubora1-server: cannot make " << dataDir << " (" << error.message() << ")" << std::endl;
    else if (::access(dataDir.c_str(), W_OK) != 0)
        std::cerr << "nubora1-server: cannot write " << dataDir << " (" << std::strerror(errno) << "): saves answer 503"
                  << std::endl;
    else if (::statvfs(dataDir.c_str(), &disk) == 0 && disk.f_bavail == 0)
        std::cerr << "nubora1-server: the disk of " << dataDir << " is full: saves answer 503 until there is room"
                  << std::endl;
    return std::make_unique<SqliteStore>((std::filesystem::path(dataDir) / "nubora1.sqlite").string());
}

} // namespace server

// SPDX-License-Identifier: GPL-3.0-or-later
// The SQLite store: one file, DIR/nubora1.sqlite, in WAL mode, so that readers never wait for
// a save and a save waits only for another save. Each transaction of saves is BEGIN IMMEDIATE
// (the write lock taken at once, so two saves never both read the old image), waiting up to
// busyMilliseconds for the lock (which another process, such as `class add`, may hold). synchronous=FULL: a commit returns after the WAL is on the disk, so an
// acknowledged save survives both a crash of the process and a power loss.
#include "server/encoding.h"
#include "server/store.h"

#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <mutex>

namespace server {

namespace {

constexpr int busyMilliseconds = 5000;

// Version n's statements take the schema from version n - 1 to n.
const char* const steps[] = {
    R"(CREATE TABLE settings (name TEXT PRIMARY KEY, value TEXT NOT NULL);
       CREATE TABLE classes (id INTEGER PRIMARY KEY, name TEXT NOT NULL, class_key TEXT NOT NULL,
           teacher_key TEXT NOT NULL, class_hash TEXT NOT NULL UNIQUE, teacher_hash TEXT NOT NULL UNIQUE,
           image BLOB NOT NULL);
       CREATE TABLE entries (seq INTEGER PRIMARY KEY, class_id INTEGER NOT NULL REFERENCES classes(id) ON DELETE CASCADE,
           client_id TEXT NOT NULL, time TEXT NOT NULL, hani INTEGER NOT NULL, tensu INTEGER NOT NULL,
           name TEXT NOT NULL, UNIQUE (class_id, client_id));
       CREATE TABLE history (number INTEGER PRIMARY KEY, class_id INTEGER NOT NULL REFERENCES classes(id) ON DELETE CASCADE,
           client_id TEXT, time TEXT NOT NULL, what TEXT NOT NULL, image BLOB NOT NULL, UNIQUE (class_id, client_id));)",
};

class Connection;

// One statement of a connection, bound and stepped; reset when it goes.
class Query {
public:
    Query(sqlite3* db, sqlite3_stmt* statement) : db(db), statement(statement) {}
    ~Query() { sqlite3_reset(statement), sqlite3_clear_bindings(statement); }
    Query& bind(std::int64_t value) { return check(sqlite3_bind_int64(statement, ++parameter, value)); }
    Query& bind(std::string_view text)
    {
        return check(sqlite3_bind_text(statement, ++parameter, text.data(), int(text.size()), SQLITE_TRANSIENT));
    }
    Query& textOrNull(std::string_view text)
    {
        return text.empty() ? check(sqlite3_bind_null(statement, ++parameter)) : bind(text);
    }
    Query& blob(std::string_view bytes)
    {
        return check(sqlite3_bind_blob(statement, ++parameter, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT));
    }
    // The next row; false at the end.
    bool step()
    {
        const int rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        fail(rc);
        return false;
    }
    std::int64_t number(int column) const { return sqlite3_column_int64(statement, column); }
    std::string text(int column) const
    {
        const void* p = sqlite3_column_blob(statement, column);
        return p ? std::string(static_cast<const char*>(p), std::size_t(sqlite3_column_bytes(statement, column))) : std::string();
    }

private:
    Query& check(int rc)
    {
        if (rc != SQLITE_OK)
            fail(rc);
        return *this;
    }
    [[noreturn]] void fail(int rc) const
    {
        const int primary = rc & 0xFF;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED || primary == SQLITE_IOERR || primary == SQLITE_FULL
            || primary == SQLITE_CANTOPEN)
            throw StoreDown(sqlite3_errmsg(db));
        throw std::runtime_error(sqlite3_errmsg(db));
    }

    sqlite3* db;
    sqlite3_stmt* statement;
    int parameter = 0;
};

class Connection {
public:
    explicit Connection(const std::string& path)
    {
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr)
            != SQLITE_OK) {
            const std::string why = db ? sqlite3_errmsg(db) : "out of memory";
            sqlite3_close(db);
            throw StoreDown("cannot open " + path + ": " + why);
        }
        sqlite3_busy_timeout(db, busyMilliseconds);
        exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    }
    ~Connection()
    {
        for (auto& [sql, statement] : statements)
            sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void exec(const char* sql)
    {
        char* error = nullptr;
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
        if (rc != SQLITE_OK) {
            const std::string why = error ? error : "error";
            sqlite3_free(error);
            if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_IOERR || (rc & 0xFF) == SQLITE_FULL)
                throw StoreDown(why);
            throw std::runtime_error(why);
        }
    }

    // The statement for sql (a string literal), prepared once per connection.
    Query query(const char* sql)
    {
        sqlite3_stmt*& statement = statements[sql];
        if (!statement && sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
        return Query(db, statement);
    }

    // Runs body inside BEGIN IMMEDIATE … COMMIT, rolled back when it throws.
    template <typename Body>
    auto transaction(Body body)
    {
        exec("BEGIN IMMEDIATE");
        try {
            auto result = body();
            exec("COMMIT");
            return result;
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    sqlite3* db = nullptr;

private:
    std::map<const char*, sqlite3_stmt*> statements;
};

class SqliteStore : public Store {
public:
    explicit SqliteStore(std::string path) : path(std::move(path))
    {
        Lease c(*this);
        c->transaction([&] {
            c->exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
            Query q = c->query("SELECT version FROM schema_version");
            int version = q.step() ? int(q.number(0)) : 0;
            if (version > schemaVersion)
                throw std::runtime_error("the database was written by a later version of nubora1-server");
            for (; version < schemaVersion; ++version)
                c->exec(steps[version]);
            c->exec("DELETE FROM schema_version");
            c->query("INSERT INTO schema_version (version) VALUES (?)").bind(std::int64_t(schemaVersion)).step();
            return 0;
        });
    }

    void addClass(const ClassInfo& info) override
    {
        Lease c(*this);
        c->transaction([&] {
            c->query("INSERT INTO classes (name, class_key, teacher_key, class_hash, teacher_hash, image) "
                     "VALUES (?, ?, ?, ?, ?, ?)")
                .bind(info.name).bind(info.classKey).bind(info.teacherKey)
                .bind(keyHash(info.classKey)).bind(keyHash(info.teacherKey)).blob("").step();
            return 0;
        });
    }

    std::vector<ClassInfo> classes() override
    {
        Lease c(*this);
        std::vector<ClassInfo> list;
        Query q = c->query("SELECT id, name, class_key, teacher_key FROM classes ORDER BY id");
        while (q.step())
            list.push_back({q.number(0), q.text(1), q.text(2), q.text(3), {}});
        return list;
    }

    bool removeClass(std::int64_t id) override
    {
        Lease c(*this);
        return c->transaction([&] {
            c->query("DELETE FROM classes WHERE id = ?").bind(id).step();
            return sqlite3_changes(c->db) > 0;
        });
    }

    std::optional<ClassInfo> findClass(std::string_view key, bool teacher) override
    {
        Lease c(*this);
        Query q = c->query(teacher ? "SELECT id, name, class_key, teacher_key, image FROM classes WHERE teacher_hash = ?"
                                   : "SELECT id, name, class_key, teacher_key, image FROM classes WHERE class_hash = ?");
        if (!q.bind(keyHash(key)).step())
            return std::nullopt;
        return ClassInfo{q.number(0), q.text(1), q.text(2), q.text(3), q.text(4)};
    }

    void changeTogether(const std::vector<Pending*>& batch) override
    {
        Lease c(*this);
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
        Lease c(*this);
        std::vector<EntryRow> list;
        Query q = c->query("SELECT client_id, time, hani, tensu, name FROM entries WHERE class_id = ? ORDER BY seq");
        q.bind(classId);
        while (q.step())
            list.push_back({q.text(0), q.text(1), int(q.number(2)), int(q.number(3)), q.text(4)});
        return list;
    }

    std::vector<HistoryRow> history(std::int64_t classId) override
    {
        Lease c(*this);
        std::vector<HistoryRow> list;
        Query q = c->query("SELECT number, client_id, time, what, image FROM history WHERE class_id = ? ORDER BY number");
        q.bind(classId);
        while (q.step())
            list.push_back({q.number(0), q.text(1), q.text(2), q.text(3), q.text(4)});
        return list;
    }

    std::optional<std::string> historyImage(std::int64_t classId, std::int64_t number) override
    {
        Lease c(*this);
        Query q = c->query("SELECT image FROM history WHERE class_id = ? AND number = ?");
        if (!q.bind(classId).bind(number).step())
            return std::nullopt;
        return q.text(0);
    }

    std::optional<std::string> setting(std::string_view name) override
    {
        Lease c(*this);
        Query q = c->query("SELECT value FROM settings WHERE name = ?");
        if (!q.bind(name).step())
            return std::nullopt;
        return q.text(0);
    }

    void setSetting(std::string_view name, std::string_view value) override
    {
        Lease c(*this);
        c->transaction([&] {
            c->query("INSERT INTO settings (name, value) VALUES (?, ?) ON CONFLICT (name) DO UPDATE SET value = excluded.value")
                .bind(name).bind(value).step();
            return 0;
        });
    }

private:
    // One change, inside the transaction.
    static Outcome applyChange(Connection& c, std::int64_t classId, const Change& change, const std::string& time)
    {
        Query image = c.query("SELECT image FROM classes WHERE id = ?");
        if (!image.bind(classId).step())
            throw std::runtime_error("no such class");
        Outcome outcome{image.text(0), false};
        if (!change.id.empty()) {
            Query seen = c.query(change.entry ? "SELECT 1 FROM entries WHERE class_id = ? AND client_id = ?"
                                              : "SELECT 1 FROM history WHERE class_id = ? AND client_id = ?");
            if (seen.bind(classId).bind(change.id).step())
                return outcome;
        }
        const std::string before = std::move(outcome.image);
        outcome.image = change.apply(before);
        outcome.applied = true;
        if (change.entry) {
            const EntryRow& e = *change.entry;
            c.query("INSERT INTO entries (class_id, client_id, time, hani, tensu, name) VALUES (?, ?, ?, ?, ?, ?)")
                .bind(classId).bind(change.id).bind(time).bind(std::int64_t(e.range)).bind(std::int64_t(e.score))
                .bind(e.name).step();
        } else {
            c.query("INSERT INTO history (class_id, client_id, time, what, image) VALUES (?, ?, ?, ?, ?)")
                .bind(classId).textOrNull(change.id).bind(time).bind(change.what).blob(before).step();
        }
        c.query("UPDATE classes SET image = ? WHERE id = ?").blob(outcome.image).bind(classId).step();
        return outcome;
    }

    // A connection of the store's pool for one call: each thread works on a connection of its
    // own, and a connection goes back to the pool for the next call.
    class Lease {
    public:
        explicit Lease(SqliteStore& store) : store(store)
        {
            {
                std::lock_guard lock(store.mutex);
                if (!store.idle.empty()) {
                    connection = std::move(store.idle.back());
                    store.idle.pop_back();
                }
            }
            if (!connection)
                connection = std::make_unique<Connection>(store.path);
        }
        ~Lease()
        {
            std::lock_guard lock(store.mutex);
            store.idle.push_back(std::move(connection));
        }
        Connection* operator->() const { return connection.get(); }
        Connection& operator*() const { return *connection; }

    private:
        SqliteStore& store;
        std::unique_ptr<Connection> connection;
    };

    std::string path;
    std::mutex mutex;
    std::vector<std::unique_ptr<Connection>> idle;
};

} // namespace

std::unique_ptr<Store> openSqliteStore(const std::string& dataDir)
{
    std::filesystem::create_directories(dataDir);
    return std::make_unique<SqliteStore>((std::filesystem::path(dataDir) / "nubora1.sqlite").string());
}

} // namespace server

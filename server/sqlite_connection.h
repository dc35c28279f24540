// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The SQLite store's connection to its file, and its statements (sqlite_store.cpp): a failure
// that passes (sqliteTransient) throws StoreDown, any other std::runtime_error.
#include "server/schema.h"
#include "server/store.h"

#include <sqlite3.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace server::sqlitedb {

inline constexpr int busyMilliseconds = 5000;

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
        return p ? std::string(static_cast<const char*>(p), std::size_t(sqlite3_column_bytes(statement, column)))
                 : std::string();
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
        if (sqliteTransient(rc))
            throw StoreDown(sqlite3_errmsg(db));
        throw std::runtime_error(sqlite3_errmsg(db));
    }

    sqlite3* db;
    sqlite3_stmt* statement;
    int parameter = 0;
};

class Connection {
public:
    // readOnly: the file as it is, never written (immutable: no -wal or -shm is made).
    Connection(const std::string& path, bool readOnly)
    {
        const std::string name = readOnly ? "file:" + path + "?immutable=1" : path;
        const int flags =
            readOnly ? SQLITE_OPEN_READONLY | SQLITE_OPEN_URI : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        if (sqlite3_open_v2(name.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            const std::string why = db ? sqlite3_errmsg(db) : "out of memory";
            sqlite3_close(db);
            throw StoreDown("cannot open " + path + ": " + why);
        }
        sqlite3_busy_timeout(db, busyMilliseconds);
        exec(readOnly ? "PRAGMA query_only=ON;"
                      : "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    }
    ~Connection()
    {
        for (auto& [sql, statement] : statements)
            sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void exec(const std::string& sql) { exec(sql.c_str()); }
    void exec(const char* sql)
    {
        char* error = nullptr;
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
        if (rc != SQLITE_OK) {
            const std::string why = error ? error : "error";
            sqlite3_free(error);
            if (sqliteTransient(rc))
                throw StoreDown(why);
            throw std::runtime_error(why);
        }
    }

    // The statement for sql (a string literal), prepared once per connection.
    Query query(const char* sql)
    {
        sqlite3_stmt*& statement = statements[sql];
        if (!statement && sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
            throw StoreDown(sqlite3_errmsg(db)); // (a read-only database of an older schema)
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

// The store's connections to its file: each thread works on a connection of its own, taken for
// one call (Lease) and given back for the next.
struct Pool {
    std::string path;
    bool readOnly = false; // set once, before the store is shared
    std::mutex mutex;
    std::vector<std::unique_ptr<Connection>> idle;
};

class Lease {
public:
    explicit Lease(Pool& pool) : pool(pool)
    {
        {
            std::lock_guard lock(pool.mutex);
            if (!pool.idle.empty()) {
                connection = std::move(pool.idle.back());
                pool.idle.pop_back();
            }
        }
        if (!connection)
            connection = std::make_unique<Connection>(pool.path, pool.readOnly);
    }
    ~Lease()
    {
        std::lock_guard lock(pool.mutex);
        pool.idle.push_back(std::move(connection));
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Connection* operator->() const { return connection.get(); }
    Connection& operator*() const { return *connection; }

private:
    Pool& pool;
    std::unique_ptr<Connection> connection;
};

} // namespace server::sqlitedb

namespace server {
class RoundStore;
// The rounds of the SQLite store whose connections these are (sqlite_rounds.cpp); told(class,
// what) after each commit that changed a round.
std::unique_ptr<RoundStore> sqliteRounds(sqlitedb::Pool& pool, std::function<void(std::int64_t, ClassEvent)> told);
} // namespace server

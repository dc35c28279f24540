// SPDX-License-Identifier: GPL-3.0-or-later
// The PostgreSQL store, for several server processes sharing one class list. Each save reads
// the class's row FOR UPDATE in its transaction, so saves to one class wait for one another in
// the database, whichever process they came to, and saves to other classes do not.
// With PostgreSQL's default synchronous_commit (on), a commit returns after its WAL is flushed:
// an acknowledged save survives a crash of either process and a power loss.
#include "server/encoding.h"
#include "server/store.h"

#include <libpq-fe.h>

#include <algorithm>
#include <mutex>
#include <utility>

namespace server {

namespace {

const char* const steps[] = {
    R"(CREATE TABLE settings (name TEXT PRIMARY KEY, value TEXT NOT NULL);
       CREATE TABLE classes (id BIGSERIAL PRIMARY KEY, name TEXT NOT NULL, class_key TEXT NOT NULL,
           teacher_key TEXT NOT NULL, class_hash TEXT NOT NULL UNIQUE, teacher_hash TEXT NOT NULL UNIQUE,
           image BYTEA NOT NULL);
       CREATE TABLE entries (seq BIGSERIAL PRIMARY KEY, class_id BIGINT NOT NULL REFERENCES classes(id) ON DELETE CASCADE,
           client_id TEXT NOT NULL, time TEXT NOT NULL, hani INTEGER NOT NULL, tensu INTEGER NOT NULL,
           name TEXT NOT NULL, UNIQUE (class_id, client_id));
       CREATE TABLE history (number BIGSERIAL PRIMARY KEY, class_id BIGINT NOT NULL REFERENCES classes(id) ON DELETE CASCADE,
           client_id TEXT, time TEXT NOT NULL, what TEXT NOT NULL, image BYTEA NOT NULL, UNIQUE (class_id, client_id));)",
};

// A parameter: text, bytes (sent as binary), or NULL.
struct Param {
    std::string value;
    bool binary = false;
    bool null = false;
};
Param bytes(std::string b) { return {std::move(b), true, false}; }
Param text(std::string t) { return {std::move(t), false, false}; }
Param number(std::int64_t n) { return {std::to_string(n), false, false}; }
Param textOrNull(const std::string& t) { return {t, false, t.empty()}; }

class Result {
public:
    explicit Result(PGresult* r) : r(r) {}
    ~Result() { PQclear(r); }
    Result(const Result&) = delete;
    Result(Result&& other) noexcept : r(std::exchange(other.r, nullptr)) {}
    int rows() const { return PQntuples(r); }
    std::string get(int row, int column) const
    {
        return std::string(PQgetvalue(r, row, column), std::size_t(PQgetlength(r, row, column)));
    }
    std::int64_t number(int row, int column) const { return std::stoll(get(row, column)); }
    // A bytea column in the text format: \x and hexadecimal digits.
    std::string blob(int row, int column) const
    {
        const std::string t = get(row, column);
        std::optional<std::string> b = t.size() >= 2 ? fromHex(std::string_view(t).substr(2)) : std::nullopt;
        if (!b)
            throw std::runtime_error("unexpected bytea format");
        return *b;
    }
    bool isNull(int row, int column) const { return PQgetisnull(r, row, column); }
    const PGresult* raw() const { return r; }
    int changed() const { return std::atoi(PQcmdTuples(r)); }

private:
    PGresult* r;
};

class Connection {
public:
    explicit Connection(const std::string& conninfo)
    {
        const char* keys[] = {"dbname", "connect_timeout", nullptr};
        const char* values[] = {conninfo.c_str(), "5", nullptr};
        c = PQconnectdbParams(keys, values, 1);
        if (PQstatus(c) != CONNECTION_OK) {
            const std::string why = PQerrorMessage(c);
            PQfinish(c);
            throw StoreDown("cannot connect to PostgreSQL: " + why);
        }
        PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
    }
    ~Connection() { PQfinish(c); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool good() const { return PQstatus(c) == CONNECTION_OK; }

    Result exec(const char* sql, const std::vector<Param>& params = {})
    {
        std::vector<const char*> values;
        std::vector<int> lengths, formats;
        for (const Param& p : params) {
            values.push_back(p.null ? nullptr : p.value.c_str());
            lengths.push_back(int(p.value.size()));
            formats.push_back(p.binary ? 1 : 0);
        }
        Result r(params.empty() ? PQexec(c, sql)
                                : PQexecParams(c, sql, int(params.size()), nullptr, values.data(), lengths.data(),
                                               formats.data(), 0));
        const PGresult* raw = r.raw();
        const ExecStatusType status = PQresultStatus(raw);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const char* state = PQresultErrorField(raw, PG_DIAG_SQLSTATE);
            const std::string code = state ? state : "";
            const std::string why = PQerrorMessage(c);
            // Connection lost, server shutting down, out of resources: the request may be tried again.
            if (!good() || code.rfind("08", 0) == 0 || code.rfind("57P", 0) == 0 || code.rfind("53", 0) == 0)
                throw StoreDown(why);
            throw std::runtime_error(why);
        }
        return r;
    }

    // Runs body between BEGIN and COMMIT, rolled back when it throws. committing says whether
    // COMMIT was sent, after which a failure leaves the outcome unknown.
    template <typename Body>
    auto transaction(Body body)
    {
        committing = false;
        exec("BEGIN");
        try {
            auto result = body();
            committing = true;
            exec("COMMIT");
            return result;
        } catch (...) {
            if (good())
                PQclear(PQexec(c, "ROLLBACK"));
            throw;
        }
    }

    bool committing = false;

private:
    PGconn* c = nullptr;
};

class PostgresStore : public Store {
public:
    explicit PostgresStore(std::string conninfo) : conninfo(std::move(conninfo))
    {
        call([&](Connection& c) {
            return c.transaction([&] {
                c.exec("SELECT pg_advisory_xact_lock(1634497)"); // one process upgrades at a time
                c.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
                const Result r = c.exec("SELECT version FROM schema_version");
                int version = r.rows() ? int(r.number(0, 0)) : 0;
                if (version > schemaVersion)
                    throw std::runtime_error("the database was written by a later version of nubora1-server");
                for (; version < schemaVersion; ++version)
                    c.exec(steps[version]);
                c.exec("DELETE FROM schema_version");
                c.exec("INSERT INTO schema_version (version) VALUES ($1)", {number(schemaVersion)});
                return 0;
            });
        });
    }

    void addClass(const ClassInfo& info) override
    {
        call([&](Connection& c) {
            c.exec("INSERT INTO classes (name, class_key, teacher_key, class_hash, teacher_hash, image) "
                   "VALUES ($1, $2, $3, $4, $5, $6)",
                   {text(info.name), text(info.classKey), text(info.teacherKey), text(keyHash(info.classKey)),
                    text(keyHash(info.teacherKey)), bytes("")});
            return 0;
        });
    }

    std::vector<ClassInfo> classes() override
    {
        return call([&](Connection& c) {
            const Result r = c.exec("SELECT id, name, class_key, teacher_key FROM classes ORDER BY id");
            std::vector<ClassInfo> list;
            for (int i = 0; i < r.rows(); ++i)
                list.push_back({r.number(i, 0), r.get(i, 1), r.get(i, 2), r.get(i, 3), {}});
            return list;
        });
    }

    bool removeClass(std::int64_t id) override
    {
        return call([&](Connection& c) { return c.exec("DELETE FROM classes WHERE id = $1", {number(id)}).changed() > 0; });
    }

    std::optional<ClassInfo> findClass(std::string_view key, bool teacher) override
    {
        return call([&](Connection& c) -> std::optional<ClassInfo> {
            const Result r = c.exec(teacher ? "SELECT id, name, class_key, teacher_key, image FROM classes WHERE teacher_hash = $1"
                                            : "SELECT id, name, class_key, teacher_key, image FROM classes WHERE class_hash = $1",
                                    {text(keyHash(key))});
            if (!r.rows())
                return std::nullopt;
            return ClassInfo{r.number(0, 0), r.get(0, 1), r.get(0, 2), r.get(0, 3), r.blob(0, 4)};
        });
    }

    // The batch's classes are locked in the order of their ids, so that two processes' batches
    // never wait for each other's locks (a deadlock); each class's changes keep their order.
    void changeTogether(const std::vector<Pending*>& batch) override
    {
        std::vector<Pending*> ordered = batch;
        std::stable_sort(ordered.begin(), ordered.end(), [](const Pending* a, const Pending* b) { return a->classId < b->classId; });
        call([&](Connection& c) {
            return c.transaction([&] {
                for (Pending* p : ordered) {
                    p->error = nullptr; // from a first attempt on a dropped connection
                    c.exec("SAVEPOINT one");
                    try {
                        p->outcome = applyChange(c, p->classId, p->change, p->time);
                    } catch (const StoreDown&) {
                        throw; // the database failed: the whole transaction goes
                    } catch (...) {
                        p->error = std::current_exception();
                        c.exec("ROLLBACK TO SAVEPOINT one");
                    }
                    c.exec("RELEASE SAVEPOINT one");
                }
                return 0;
            });
        });
    }

    std::vector<EntryRow> entries(std::int64_t classId) override
    {
        return call([&](Connection& c) {
            const Result r = c.exec("SELECT client_id, time, hani, tensu, name FROM entries WHERE class_id = $1 ORDER BY seq",
                                    {number(classId)});
            std::vector<EntryRow> list;
            for (int i = 0; i < r.rows(); ++i)
                list.push_back({r.get(i, 0), r.get(i, 1), int(r.number(i, 2)), int(r.number(i, 3)), r.get(i, 4)});
            return list;
        });
    }

    std::vector<HistoryRow> history(std::int64_t classId) override
    {
        return call([&](Connection& c) {
            const Result r = c.exec(
                "SELECT number, client_id, time, what, image FROM history WHERE class_id = $1 ORDER BY number", {number(classId)});
            std::vector<HistoryRow> list;
            for (int i = 0; i < r.rows(); ++i)
                list.push_back({r.number(i, 0), r.isNull(i, 1) ? std::string() : r.get(i, 1), r.get(i, 2), r.get(i, 3), r.blob(i, 4)});
            return list;
        });
    }

    std::optional<std::string> historyImage(std::int64_t classId, std::int64_t n) override
    {
        return call([&](Connection& c) -> std::optional<std::string> {
            const Result r = c.exec("SELECT image FROM history WHERE class_id = $1 AND number = $2", {number(classId), number(n)});
            return r.rows() ? std::optional(r.blob(0, 0)) : std::nullopt;
        });
    }

    std::optional<std::string> setting(std::string_view name) override
    {
        return call([&](Connection& c) -> std::optional<std::string> {
            const Result r = c.exec("SELECT value FROM settings WHERE name = $1", {text(std::string(name))});
            return r.rows() ? std::optional(r.get(0, 0)) : std::nullopt;
        });
    }

    void setSetting(std::string_view name, std::string_view value) override
    {
        call([&](Connection& c) {
            c.exec("INSERT INTO settings (name, value) VALUES ($1, $2) ON CONFLICT (name) DO UPDATE SET value = excluded.value",
                   {text(std::string(name)), text(std::string(value))});
            return 0;
        });
    }

private:
    // One change, inside the transaction.
    static Outcome applyChange(Connection& c, std::int64_t classId, const Change& change, const std::string& time)
    {
        const Result image = c.exec("SELECT image FROM classes WHERE id = $1 FOR UPDATE", {number(classId)});
        if (!image.rows())
            throw std::runtime_error("no such class");
        Outcome outcome{image.blob(0, 0), false};
        if (!change.id.empty()) {
            const Result seen = c.exec(change.entry ? "SELECT 1 FROM entries WHERE class_id = $1 AND client_id = $2"
                                                    : "SELECT 1 FROM history WHERE class_id = $1 AND client_id = $2",
                                       {number(classId), text(change.id)});
            if (seen.rows())
                return outcome;
        }
        const std::string before = std::move(outcome.image);
        outcome.image = change.apply(before);
        outcome.applied = true;
        if (change.entry) {
            const EntryRow& e = *change.entry;
            c.exec("INSERT INTO entries (class_id, client_id, time, hani, tensu, name) VALUES ($1, $2, $3, $4, $5, $6)",
                   {number(classId), text(change.id), text(time), number(e.range), number(e.score), text(e.name)});
        } else {
            c.exec("INSERT INTO history (class_id, client_id, time, what, image) VALUES ($1, $2, $3, $4, $5)",
                   {number(classId), textOrNull(change.id), text(time), text(change.what), bytes(before)});
        }
        c.exec("UPDATE classes SET image = $1 WHERE id = $2", {bytes(outcome.image), number(classId)});
        return outcome;
    }

    // Runs body on a connection of the pool (each thread on its own). A pooled connection that
    // the database dropped (a restart) fails at its first use: the call is made once more on a
    // new connection, unless COMMIT had been sent, and the other idle connections are let go.
    template <typename Body>
    auto call(Body body) -> decltype(body(std::declval<Connection&>()))
    {
        for (int attempt = 0;; ++attempt) {
            std::unique_ptr<Connection> c;
            {
                std::lock_guard lock(mutex);
                if (!idle.empty()) {
                    c = std::move(idle.back());
                    idle.pop_back();
                }
            }
            const bool pooled = c != nullptr;
            if (!c)
                c = std::make_unique<Connection>(conninfo);
            try {
                auto result = body(*c);
                std::lock_guard lock(mutex);
                idle.push_back(std::move(c));
                return result;
            } catch (const StoreDown&) {
                if (c->good()) {
                    std::lock_guard lock(mutex);
                    idle.push_back(std::move(c));
                    throw;
                }
                {
                    std::lock_guard lock(mutex);
                    idle.clear();
                }
                if (!pooled || attempt > 0 || c->committing)
                    throw;
            } catch (...) {
                if (c->good()) {
                    std::lock_guard lock(mutex);
                    idle.push_back(std::move(c));
                }
                throw;
            }
        }
    }

    std::string conninfo;
    std::mutex mutex;
    std::vector<std::unique_ptr<Connection>> idle;
};

} // namespace

std::unique_ptr<Store> openPostgresStore(const std::string& conninfo)
{
    return std::make_unique<PostgresStore>(conninfo);
}

} // namespace server

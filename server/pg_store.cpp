// SPDX-License-Identifier: GPL-3.0-or-later
// The PostgreSQL store, for several server processes sharing one class list. Each save reads
// the class's row FOR UPDATE in its transaction, so saves to one class wait for one another in
// the database, whichever process they came to, and saves to other classes do not.
// With PostgreSQL's default synchronous_commit (on), a commit returns after its WAL is flushed:
// an acknowledged save survives a crash of either process and a power loss.
#include "server/encoding.h"
#include "server/store.h"

#include <libpq-fe.h>

#include <map>
#include <mutex>
#include <set>
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
        std::map<std::int64_t, std::vector<Pending*>> classes;
        for (Pending* p : batch)
            classes[p->classId].push_back(p);
        call([&](Connection& c) {
            return c.transaction([&] {
                for (const auto& [classId, changes] : classes)
                    changeClass(c, classId, changes);
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
    // One class's changes, inside the transaction, in a few round trips to the database
    // whatever their number: the class's row locked and read, the ids already stored looked up
    // together, each change applied in turn to the image in memory (one that throws leaves it
    // as it was), then their rows and the last image written.
    static void changeClass(Connection& c, std::int64_t classId, const std::vector<Pending*>& changes)
    {
        const Result row = c.exec("SELECT image FROM classes WHERE id = $1 FOR UPDATE", {number(classId)});
        std::string image = row.rows() ? row.blob(0, 0) : std::string();
        std::vector<std::string> entryIds, historyIds;
        for (const Pending* p : changes)
            if (!p->change.id.empty())
                (p->change.entry ? entryIds : historyIds).push_back(p->change.id);
        const Result stored = c.exec("SELECT 'e' || client_id FROM entries WHERE class_id = $1 AND client_id = ANY($2::text[]) "
                                     "UNION ALL SELECT 'h' || client_id FROM history WHERE class_id = $1 AND client_id = ANY($3::text[])",
                                     {number(classId), text(textArray(entryIds)), text(textArray(historyIds))});
        std::set<std::string> seen;
        for (int i = 0; i < stored.rows(); ++i)
            seen.insert(stored.get(i, 0));
        std::string entriesSql;
        std::vector<Param> entries;
        for (Pending* p : changes) {
            p->error = nullptr; // from a first attempt on a dropped connection
            const Change& change = p->change;
            const std::string seenAs = (change.entry ? "e" : "h") + change.id;
            p->outcome = {image, false};
            try {
                if (!row.rows())
                    throw std::runtime_error("no such class");
                if (!change.id.empty() && seen.count(seenAs))
                    continue;
                p->outcome = {change.apply(image), true};
            } catch (...) {
                p->error = std::current_exception();
                continue;
            }
            if (!change.id.empty())
                seen.insert(seenAs);
            if (change.entry) {
                const EntryRow& e = *change.entry;
                const std::size_t n = entries.size();
                entriesSql += (n ? ", (" : "(") + std::string("$1");
                for (std::size_t k = 2; k <= 6; ++k)
                    entriesSql += ", $" + std::to_string(n + k);
                entriesSql += ")";
                entries.insert(entries.end(), {text(change.id), text(p->time), number(e.range), number(e.score), text(e.name)});
            } else {
                c.exec("INSERT INTO history (class_id, client_id, time, what, image) VALUES ($1, $2, $3, $4, $5)",
                       {number(classId), textOrNull(change.id), text(p->time), text(change.what), bytes(image)});
            }
            image = p->outcome.image;
        }
        if (!entries.empty()) {
            entries.insert(entries.begin(), number(classId));
            c.exec(("INSERT INTO entries (class_id, client_id, time, hani, tensu, name) VALUES " + entriesSql).c_str(), entries);
        }
        if (row.rows())
            c.exec("UPDATE classes SET image = $1 WHERE id = $2", {bytes(image), number(classId)});
    }

    // A text[] literal, {"a","b"}: each element quoted, its quotes and backslashes escaped.
    static std::string textArray(const std::vector<std::string>& values)
    {
        std::string literal = "{";
        for (const std::string& value : values) {
            literal += literal.size() > 1 ? ",\"" : "\"";
            for (const char ch : value)
                literal += ch == '"' || ch == '\\' ? std::string{'\\', ch} : std::string{ch};
            literal += '"';
        }
        return literal + "}";
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

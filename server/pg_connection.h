// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The PostgreSQL store's connection (pg_store.cpp): statements with parameters, their results,
// and transactions; a failure that passes (postgresTransient, or the connection lost) throws
// StoreDown, any other std::runtime_error.
#include "server/encoding.h"
#include "server/schema.h"
#include "server/store.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace server::pgdb {

// A parameter: text, bytes (sent as binary), or NULL.
struct Param {
    std::string value;
    bool binary = false;
    bool null = false;
};
inline Param bytes(std::string b)
{
    return {std::move(b), true, false};
}
inline Param text(std::string t)
{
    return {std::move(t), false, false};
}
inline Param number(std::int64_t n)
{
    return {std::to_string(n), false, false};
}
inline Param textOrNull(const std::string& t)
{
    return {t, false, t.empty()};
}

// A text[] literal, {"a","b"}: each element quoted, its quotes and backslashes escaped.
inline std::string textArray(const std::vector<std::string>& values)
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
        PQsetNoticeProcessor(
            c, [](void*, const char*) {}, nullptr);
    }
    ~Connection() { PQfinish(c); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool good() const { return PQstatus(c) == CONNECTION_OK; }

    Result exec(const std::string& sql, const std::vector<Param>& params = {}) { return exec(sql.c_str(), params); }
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
            if (!good() || postgresTransient(code))
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

// The store's connections to the database: each thread works on a connection of its own.
struct Pool {
    std::string conninfo;
    std::mutex mutex;
    std::vector<std::unique_ptr<Connection>> idle;

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
};

// The statement that NOTIFYs changesChannel with `payload` (an SQL text expression).
inline std::string notifySql(const std::string& payload)
{
    return std::string("SELECT pg_notify('") + changesChannel + "', " + payload + ")";
}

} // namespace server::pgdb

namespace server {
class RoundStore;
// The rounds of the PostgreSQL store whose connections these are (pg_rounds.cpp).
std::unique_ptr<RoundStore> postgresRounds(pgdb::Pool& pool);
} // namespace server

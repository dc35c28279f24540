// SPDX-License-Identifier: GPL-3.0-or-later
// The SQLite store's rounds (round_store.h). Every write is one BEGIN IMMEDIATE transaction,
// so that it reads what it decides on (the latest round, whether the device joined, whether
// the question was answered) under the database's write lock; the commit is durable before
// it returns, and the store's hearers are told after it.
#include "server/round_store.h"
#include "server/sqlite_connection.h"

namespace server {

namespace {

using sqlitedb::Connection;
using sqlitedb::Lease;
using sqlitedb::Pool;
using sqlitedb::Query;

RoundRow roundOf(const Query& q)
{
    return {q.number(0), int(q.number(1)), int(q.number(2)), std::uint32_t(q.number(3)), q.number(4), q.number(5)};
}

class SqliteRounds : public RoundStore {
public:
    SqliteRounds(Pool& pool, std::function<void(std::int64_t, ClassEvent)> told) : pool(pool), told(std::move(told)) {}

    std::optional<RoundRow> latest(std::int64_t classId) override
    {
        Lease c(pool);
        return latestOf(*c, classId);
    }

    std::optional<RoundRow> round(std::int64_t classId, std::int64_t number) override
    {
        Lease c(pool);
        Query q =
            c->query("SELECT number, hani, tick, seed, start_ms, end_ms FROM rounds WHERE class_id = ? AND number = ?");
        if (!q.bind(classId).bind(number).step())
            return std::nullopt;
        return roundOf(q);
    }

    std::optional<RoundRow> start(std::int64_t classId, RoundRow wanted, std::int64_t now) override
    {
        std::optional<RoundRow> started;
        {
            Lease c(pool);
            started = c->transaction([&]() -> std::optional<RoundRow> {
                const std::optional<RoundRow> last = latestOf(*c, classId);
                if (last && last->end > now)
                    return std::nullopt;
                wanted.number = last ? last->number + 1 : 1;
                c->query("INSERT INTO rounds (class_id, number, hani, tick, seed, start_ms, end_ms) VALUES (?, ?, ?, "
                         "?, ?, ?, ?) "
                         "ON CONFLICT (class_id, number) DO NOTHING")
                    .bind(classId)
                    .bind(wanted.number)
                    .bind(std::int64_t(wanted.range))
                    .bind(std::int64_t(wanted.tick))
                    .bind(std::int64_t(wanted.seed))
                    .bind(wanted.start)
                    .bind(wanted.end)
                    .step();
                if (sqlite3_changes(c->db) == 0)
                    return std::nullopt;
                return wanted;
            });
        }
        if (started)
            told(classId, ClassEvent::roundStarted);
        return started;
    }

    Joined join(std::int64_t classId, std::int64_t number, const std::string& device,
                const std::optional<std::string>& name, std::optional<std::int64_t> roundTrip,
                std::int64_t now) override
    {
        Joined joined;
        {
            Lease c(pool);
            joined = c->transaction([&] {
                Query r = c->query("SELECT start_ms, EXISTS (SELECT 1 FROM round_devices WHERE class_id = ? AND number "
                                   "= ? AND device = ?) "
                                   "FROM rounds WHERE class_id = ? AND number = ?");
                if (!r.bind(classId).bind(number).bind(device).bind(classId).bind(number).step())
                    return Joined::noSuchRound;
                if (r.number(1) == 0 && now >= r.number(0))
                    return Joined::started;
                Query w = c->query(
                    "INSERT INTO round_devices (class_id, number, device, name, shortest, joined_ms) "
                    "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (class_id, number, device) DO UPDATE SET "
                    "name = COALESCE(excluded.name, name), shortest = CASE WHEN shortest IS NULL "
                    "OR excluded.shortest < shortest THEN COALESCE(excluded.shortest, shortest) ELSE shortest END");
                w.bind(classId).bind(number).bind(device);
                if (name)
                    w.bind(*name);
                else
                    w.textOrNull("");
                if (roundTrip)
                    w.bind(*roundTrip);
                else
                    w.textOrNull("");
                w.bind(now).step();
                return Joined::joined;
            });
        }
        if (joined == Joined::joined)
            told(classId, ClassEvent::roundMoved);
        return joined;
    }

    std::optional<RoundDevice> device(std::int64_t classId, std::int64_t number, const std::string& device) override
    {
        Lease c(pool);
        std::vector<RoundDevice> found = devicesOf(*c, classId, number, device);
        return found.empty() ? std::nullopt : std::optional(std::move(found.front()));
    }

    RoundAnswer answer(std::int64_t classId, std::int64_t number, const std::string& device,
                       const RoundAnswer& a) override
    {
        bool stored = false;
        RoundAnswer kept;
        {
            Lease c(pool);
            kept = c->transaction([&] {
                c->query("INSERT INTO round_answers (class_id, number, device, question, button, points, counted, "
                         "is_right, "
                         "received_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (class_id, number, device, "
                         "question) DO NOTHING")
                    .bind(classId)
                    .bind(number)
                    .bind(device)
                    .bind(std::int64_t(a.question))
                    .bind(std::int64_t(a.button))
                    .bind(std::int64_t(a.points))
                    .bind(std::int64_t(a.counted))
                    .bind(std::int64_t(a.right))
                    .bind(a.received)
                    .step();
                stored = sqlite3_changes(c->db) > 0;
                Query q = c->query("SELECT question, button, points, counted, is_right, received_ms FROM round_answers "
                                   "WHERE class_id = ? AND number = ? AND device = ? AND question = ?");
                q.bind(classId).bind(number).bind(device).bind(std::int64_t(a.question)).step();
                return RoundAnswer{int(q.number(0)), int(q.number(1)), int(q.number(2)),
                                   q.number(3) != 0, q.number(4) != 0, q.number(5)};
            });
        }
        if (stored)
            told(classId, ClassEvent::roundMoved);
        return kept;
    }

    std::vector<RoundDevice> devices(std::int64_t classId, std::int64_t number) override
    {
        Lease c(pool);
        return devicesOf(*c, classId, number, std::nullopt);
    }

    std::vector<std::pair<RoundRow, std::vector<RoundDevice>>> all(std::int64_t classId) override
    {
        Lease c(pool);
        std::vector<std::pair<RoundRow, std::vector<RoundDevice>>> list;
        Query q = c->query(
            "SELECT number, hani, tick, seed, start_ms, end_ms FROM rounds WHERE class_id = ? ORDER BY number");
        q.bind(classId);
        while (q.step())
            list.emplace_back(roundOf(q), std::vector<RoundDevice>{});
        for (auto& [r, joined] : list)
            joined = devicesOf(*c, classId, r.number, std::nullopt);
        return list;
    }

private:
    static std::optional<RoundRow> latestOf(Connection& c, std::int64_t classId)
    {
        Query q = c.query("SELECT number, hani, tick, seed, start_ms, end_ms FROM rounds WHERE class_id = ? ORDER BY "
                          "number DESC LIMIT 1");
        if (!q.bind(classId).step())
            return std::nullopt;
        return roundOf(q);
    }

    // The round's devices (or the one named), in the order they joined, with their answers.
    static std::vector<RoundDevice> devicesOf(Connection& c, std::int64_t classId, std::int64_t number,
                                              const std::optional<std::string>& only)
    {
        std::vector<RoundDevice> list;
        Query d = c.query("SELECT device, COALESCE(name, ''), shortest, shortest IS NULL, joined_ms FROM round_devices "
                          "WHERE class_id = ? AND number = ? AND (? IS NULL OR device = ?) ORDER BY joined_ms, device");
        d.bind(classId).bind(number).textOrNull(only.value_or("")).textOrNull(only.value_or(""));
        while (d.step())
            list.push_back(
                {d.text(0), d.text(1), d.number(3) ? std::nullopt : std::optional(d.number(2)), d.number(4), {}});
        Query a = c.query("SELECT device, question, button, points, counted, is_right, received_ms FROM round_answers "
                          "WHERE class_id = ? AND number = ? AND (? IS NULL OR device = ?) ORDER BY device, question");
        a.bind(classId).bind(number).textOrNull(only.value_or("")).textOrNull(only.value_or(""));
        while (a.step())
            for (RoundDevice& joined : list)
                if (joined.device == a.text(0))
                    joined.answers.push_back({int(a.number(1)), int(a.number(2)), int(a.number(3)), a.number(4) != 0,
                                              a.number(5) != 0, a.number(6)});
        return list;
    }

    Pool& pool;
    std::function<void(std::int64_t, ClassEvent)> told;
};

} // namespace

std::unique_ptr<RoundStore> sqliteRounds(Pool& pool, std::function<void(std::int64_t, ClassEvent)> told)
{
    return std::make_unique<SqliteRounds>(pool, std::move(told));
}

} // namespace server

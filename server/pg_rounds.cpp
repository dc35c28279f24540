// SPDX-License-Identifier: GPL-3.0-or-later
// The PostgreSQL store's rounds (round_store.h). The database decides each race by its keys:
// a round takes the number after the latest with INSERT … ON CONFLICT DO NOTHING (of two
// processes starting one at once, one stores it); an answer is inserted the same way and read
// back, so the first to each question is kept. Each write NOTIFYs changesChannel in its own
// transaction, so every process's streams hear it once it commits.
#include "server/pg_connection.h"
#include "server/round_store.h"

namespace server {

namespace {

using namespace pgdb;

RoundRow roundOf(const Result& r, int row)
{
    return {r.number(row, 0), int(r.number(row, 1)), int(r.number(row, 2)), std::uint32_t(r.number(row, 3)),
            r.number(row, 4), r.number(row, 5)};
}

Param numberOrNull(std::optional<std::int64_t> n)
{
    return n ? number(*n) : Param{{}, false, true};
}

class PostgresRounds : public RoundStore {
public:
    explicit PostgresRounds(Pool& pool) : pool(pool) {}

    std::optional<RoundRow> latest(std::int64_t classId) override
    {
        return pool.call([&](Connection& c) { return latestOf(c, classId); });
    }

    std::optional<RoundRow> round(std::int64_t classId, std::int64_t n) override
    {
        return pool.call([&](Connection& c) -> std::optional<RoundRow> {
            const Result r = c.exec(
                "SELECT number, hani, tick, seed, start_ms, end_ms FROM rounds WHERE class_id = $1 AND number = $2",
                {number(classId), number(n)});
            return r.rows() ? std::optional(roundOf(r, 0)) : std::nullopt;
        });
    }

    std::optional<RoundRow> start(std::int64_t classId, RoundRow wanted, std::int64_t now) override
    {
        return pool.call([&](Connection& c) {
            return c.transaction([&]() -> std::optional<RoundRow> {
                const std::optional<RoundRow> last = latestOf(c, classId);
                if (last && last->end > now)
                    return std::nullopt;
                wanted.number = last ? last->number + 1 : 1;
                const Result r =
                    c.exec("INSERT INTO rounds (class_id, number, hani, tick, seed, start_ms, end_ms) "
                           "VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT (class_id, number) DO NOTHING",
                           {number(classId), number(wanted.number), number(wanted.range), number(wanted.tick),
                            number(wanted.seed), number(wanted.start), number(wanted.end)});
                if (r.changed() == 0)
                    return std::nullopt;
                notify(c, classId, ClassEvent::roundStarted);
                return wanted;
            });
        });
    }

    Joined join(std::int64_t classId, std::int64_t n, const std::string& device, const std::optional<std::string>& name,
                std::optional<std::int64_t> roundTrip, std::int64_t now) override
    {
        return pool.call([&](Connection& c) {
            return c.transaction([&] {
                const Result r =
                    c.exec("SELECT start_ms, EXISTS (SELECT 1 FROM round_devices WHERE class_id = $1 AND number = $2 "
                           "AND device = $3) FROM rounds WHERE class_id = $1 AND number = $2",
                           {number(classId), number(n), text(device)});
                if (!r.rows())
                    return Joined::noSuchRound;
                if (r.get(0, 1) != "t" && now >= r.number(0, 0))
                    return Joined::started;
                c.exec("INSERT INTO round_devices AS d (class_id, number, device, name, shortest, joined_ms) "
                       "VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (class_id, number, device) DO UPDATE SET "
                       "name = COALESCE(excluded.name, d.name), shortest = LEAST(d.shortest, excluded.shortest)",
                       {number(classId), number(n), text(device), name ? text(*name) : Param{{}, false, true},
                        numberOrNull(roundTrip), number(now)});
                notify(c, classId, ClassEvent::roundMoved);
                return Joined::joined;
            });
        });
    }

    std::optional<RoundDevice> device(std::int64_t classId, std::int64_t n, const std::string& device) override
    {
        return pool.call([&](Connection& c) -> std::optional<RoundDevice> {
            std::vector<RoundDevice> found = devicesOf(c, classId, n, device);
            return found.empty() ? std::nullopt : std::optional(std::move(found.front()));
        });
    }

    RoundAnswer answer(std::int64_t classId, std::int64_t n, const std::string& device, const RoundAnswer& a) override
    {
        return pool.call([&](Connection& c) {
            return c.transaction([&] {
                const Result w =
                    c.exec("INSERT INTO round_answers (class_id, number, device, question, button, points, counted, "
                           "is_right, received_ms) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9) "
                           "ON CONFLICT (class_id, number, device, question) DO NOTHING",
                           {number(classId), number(n), text(device), number(a.question), number(a.button),
                            number(a.points), number(a.counted), number(a.right), number(a.received)});
                if (w.changed() > 0)
                    notify(c, classId, ClassEvent::roundMoved);
                const Result r =
                    c.exec("SELECT question, button, points, counted, is_right, received_ms FROM round_answers "
                           "WHERE class_id = $1 AND number = $2 AND device = $3 AND question = $4",
                           {number(classId), number(n), text(device), number(a.question)});
                return RoundAnswer{int(r.number(0, 0)), int(r.number(0, 1)), int(r.number(0, 2)),
                                   r.number(0, 3) != 0, r.number(0, 4) != 0, r.number(0, 5)};
            });
        });
    }

    std::vector<RoundDevice> devices(std::int64_t classId, std::int64_t n) override
    {
        return pool.call([&](Connection& c) { return devicesOf(c, classId, n, std::nullopt); });
    }

    std::vector<std::pair<RoundRow, std::vector<RoundDevice>>> all(std::int64_t classId) override
    {
        return pool.call([&](Connection& c) {
            std::vector<std::pair<RoundRow, std::vector<RoundDevice>>> list;
            const Result r = c.exec(
                "SELECT number, hani, tick, seed, start_ms, end_ms FROM rounds WHERE class_id = $1 ORDER BY number",
                {number(classId)});
            for (int i = 0; i < r.rows(); ++i)
                list.emplace_back(roundOf(r, i), devicesOf(c, classId, r.number(i, 0), std::nullopt));
            return list;
        });
    }

private:
    static void notify(Connection& c, std::int64_t classId, ClassEvent what)
    {
        c.exec(notifySql("$1"), {text(changePayload(classId, what))});
    }

    static std::optional<RoundRow> latestOf(Connection& c, std::int64_t classId)
    {
        const Result r = c.exec("SELECT number, hani, tick, seed, start_ms, end_ms FROM rounds WHERE class_id = $1 "
                                "ORDER BY number DESC LIMIT 1",
                                {number(classId)});
        return r.rows() ? std::optional(roundOf(r, 0)) : std::nullopt;
    }

    // The round's devices (or the one named), in the order they joined, with their answers.
    static std::vector<RoundDevice> devicesOf(Connection& c, std::int64_t classId, std::int64_t n,
                                              const std::optional<std::string>& only)
    {
        const Param who = only ? text(*only) : Param{{}, false, true};
        const Result d =
            c.exec("SELECT device, COALESCE(name, ''), shortest, joined_ms FROM round_devices WHERE class_id = $1 "
                   "AND number = $2 AND ($3::text IS NULL OR device = $3::text) ORDER BY joined_ms, device",
                   {number(classId), number(n), who});
        std::vector<RoundDevice> list;
        for (int i = 0; i < d.rows(); ++i)
            list.push_back({d.get(i, 0),
                            d.get(i, 1),
                            d.isNull(i, 2) ? std::nullopt : std::optional(d.number(i, 2)),
                            d.number(i, 3),
                            {}});
        const Result a =
            c.exec("SELECT device, question, button, points, counted, is_right, received_ms FROM round_answers "
                   "WHERE class_id = $1 AND number = $2 AND ($3::text IS NULL OR device = $3::text) "
                   "ORDER BY device, question",
                   {number(classId), number(n), who});
        for (int i = 0; i < a.rows(); ++i)
            for (RoundDevice& joined : list)
                if (joined.device == a.get(i, 0))
                    joined.answers.push_back({int(a.number(i, 1)), int(a.number(i, 2)), int(a.number(i, 3)),
                                              a.number(i, 4) != 0, a.number(i, 5) != 0, a.number(i, 6)});
        return list;
    }

    Pool& pool;
};

} // namespace

std::unique_ptr<RoundStore> postgresRounds(Pool& pool)
{
    return std::make_unique<PostgresRounds>(pool);
}

} // namespace server

// SPDX-License-Identifier: GPL-3.0-or-later
// The PostgreSQL store, for several server processes sharing one class list. Each save reads
// the class's row FOR UPDATE in its transaction, so saves to one class wait for one another in
// the database, whichever process they came to, and saves to other classes do not.
// With PostgreSQL's default synchronous_commit (on), a commit returns after its WAL is flushed:
// an acknowledged save survives a crash of either process and a power loss.
#include "server/encoding.h"
#include "server/pg_connection.h"
#include "server/round_store.h"
#include "server/schema.h"
#include "server/store.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace server {

namespace {

using namespace pgdb;

class PostgresStore : public Store {
public:
    explicit PostgresStore(std::string conninfo) : conninfo(conninfo), pool{std::move(conninfo)}
    {
        pool.call([&](Connection& c) {
            return c.transaction([&] {
                c.exec("SELECT pg_advisory_xact_lock(1634497)"); // one process upgrades at a time
                c.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
                const Result r = c.exec("SELECT version FROM schema_version");
                int version = r.rows() ? int(r.number(0, 0)) : 0;
                if (version > schemaVersion)
                    throw std::runtime_error("the database was written by a later version of nubora1-server");
                if (version == schemaVersion)
                    return 0;
                while (version < schemaVersion)
                    c.exec(schemaStep(++version, postgresWords));
                c.exec("DELETE FROM schema_version");
                c.exec("INSERT INTO schema_version (version) VALUES ($1)", {number(schemaVersion)});
                return 0;
            });
        });
    }

    void addClass(const ClassInfo& info) override
    {
        pool.call([&](Connection& c) {
            c.exec("INSERT INTO classes (name, class_key, teacher_key, class_hash, teacher_hash, image) "
                   "VALUES ($1, $2, $3, $4, $5, $6)",
                   {text(info.name), text(info.classKey), text(info.teacherKey), text(keyHash(info.classKey)),
                    text(keyHash(info.teacherKey)), bytes("")});
            return 0;
        });
    }

    std::vector<ClassInfo> classes() override
    {
        return pool.call([&](Connection& c) {
            const Result r = c.exec("SELECT id, name, class_key, teacher_key FROM classes ORDER BY id");
            std::vector<ClassInfo> list;
            for (int i = 0; i < r.rows(); ++i)
                list.push_back({r.number(i, 0), r.get(i, 1), r.get(i, 2), r.get(i, 3), {}});
            return list;
        });
    }

    bool removeClass(std::int64_t id) override
    {
        return pool.call(
            [&](Connection& c) { return c.exec("DELETE FROM classes WHERE id = $1", {number(id)}).changed() > 0; });
    }

    std::optional<ClassInfo> findClass(std::string_view key, bool teacher) override
    {
        return pool.call([&](Connection& c) -> std::optional<ClassInfo> {
            const Result r = c.exec(teacher ? "SELECT id, name, class_key, teacher_key, image, pupils_blank, base, "
                                              "base_seq FROM classes WHERE teacher_hash = $1"
                                            : "SELECT id, name, class_key, teacher_key, image, pupils_blank, base, "
                                              "base_seq FROM classes WHERE class_hash = $1",
                                    {text(keyHash(key))});
            if (!r.rows())
                return std::nullopt;
            return ClassInfo{r.number(0, 0), r.get(0, 1),         r.get(0, 2),  r.get(0, 3),
                             r.blob(0, 4),   r.number(0, 5) != 0, r.blob(0, 6), r.number(0, 7)};
        });
    }

    // The batch's classes are locked in the order of their ids, so that two processes' batches
    // never wait for each other's locks (a deadlock); each class's changes keep their order.
    void changeTogether(const std::vector<Pending*>& batch) override
    {
        std::map<std::int64_t, std::vector<Pending*>> classes;
        for (Pending* p : batch)
            classes[p->classId].push_back(p);
        pool.call([&](Connection& c) {
            return c.transaction([&] {
                for (const auto& [classId, changes] : classes)
                    changeClass(c, classId, changes);
                return 0;
            });
        });
    }

    std::vector<EntryRow> entries(std::int64_t classId) override
    {
        return pool.call([&](Connection& c) { return entriesSince(c, classId, 0); });
    }

    std::vector<HistoryRow> history(std::int64_t classId) override
    {
        return pool.call([&](Connection& c) {
            const Result r =
                c.exec("SELECT number, client_id, time, what, image FROM history WHERE class_id = $1 ORDER BY number",
                       {number(classId)});
            std::vector<HistoryRow> list;
            for (int i = 0; i < r.rows(); ++i)
                list.push_back({r.number(i, 0), r.isNull(i, 1) ? std::string() : r.get(i, 1), r.get(i, 2), r.get(i, 3),
                                r.blob(i, 4)});
            return list;
        });
    }

    std::optional<std::string> historyImage(std::int64_t classId, std::int64_t n) override
    {
        return pool.call([&](Connection& c) -> std::optional<std::string> {
            const Result r =
                c.exec("SELECT image FROM history WHERE class_id = $1 AND number = $2", {number(classId), number(n)});
            return r.rows() ? std::optional(r.blob(0, 0)) : std::nullopt;
        });
    }

    void setPupilsBlank(std::int64_t classId, bool blanks) override
    {
        pool.call([&](Connection& c) {
            return c
                .exec("WITH u AS (UPDATE classes SET pupils_blank = $1 WHERE id = $2 RETURNING id) " + notify
                          + " FROM u",
                      {number(blanks), number(classId)})
                .rows();
        });
    }

    std::string changesHeardAt() const override { return conninfo; }
    RoundStore& rounds() override { return *roundStore; }

    std::optional<std::string> setting(std::string_view name) override
    {
        return pool.call([&](Connection& c) -> std::optional<std::string> {
            const Result r = c.exec("SELECT value FROM settings WHERE name = $1", {text(std::string(name))});
            return r.rows() ? std::optional(r.get(0, 0)) : std::nullopt;
        });
    }

    void setSetting(std::string_view name, std::string_view value) override
    {
        pool.call([&](Connection& c) {
            c.exec("INSERT INTO settings (name, value) VALUES ($1, $2) ON CONFLICT (name) DO UPDATE SET value = "
                   "excluded.value",
                   {text(std::string(name)), text(std::string(value))});
            return 0;
        });
    }

    std::string keepSetting(std::string_view name, std::string_view value) override
    {
        return pool.call([&](Connection& c) {
            c.exec("INSERT INTO settings (name, value) VALUES ($1, $2) ON CONFLICT (name) DO NOTHING",
                   {text(std::string(name)), text(std::string(value))});
            return c.exec("SELECT value FROM settings WHERE name = $1", {text(std::string(name))}).get(0, 0);
        });
    }

    std::vector<GameRow> games(std::int64_t classId, std::string_view since) override
    {
        return pool.call([&](Connection& c) {
            const Result r = c.exec("SELECT ticket, seed, hani, tensu, log, time FROM games WHERE class_id = $1 AND "
                                    "time >= $2 ORDER BY time",
                                    {number(classId), text(std::string(since))});
            std::vector<GameRow> list;
            for (int i = 0; i < r.rows(); ++i)
                list.push_back({r.get(i, 0), std::uint32_t(r.number(i, 1)), int(r.number(i, 2)), int(r.number(i, 3)),
                                r.get(i, 4), r.get(i, 5)});
            return list;
        });
    }

private:
    // One class's changes, inside the transaction, in a few round trips to the database
    // whatever their number of saves: the class's row locked and read, the ids already stored
    // looked up together, each save entered in turn into the image in memory (one that throws
    // leaves it as it was), then their rows and the last image written. A change that is no
    // save writes the saves before it first, since it reads the entries.
    static void changeClass(Connection& c, std::int64_t classId, const std::vector<Pending*>& changes)
    {
        const Result row =
            c.exec("SELECT image, base, base_seq FROM classes WHERE id = $1 FOR UPDATE", {number(classId)});
        std::string image = row.rows() ? row.blob(0, 0) : std::string();
        std::vector<std::string> entryIds, historyIds;
        for (const Pending* p : changes)
            if (!p->change.id.empty())
                (p->change.entry ? entryIds : historyIds).push_back(p->change.id);
        const Result stored =
            c.exec("SELECT 'e' || client_id FROM entries WHERE class_id = $1 AND client_id = ANY($2::text[]) "
                   "UNION ALL SELECT 'h' || client_id FROM history WHERE class_id = $1 AND client_id = ANY($3::text[])",
                   {number(classId), text(textArray(entryIds)), text(textArray(historyIds))});
        std::set<std::string> seen;
        for (int i = 0; i < stored.rows(); ++i)
            seen.insert(stored.get(i, 0));
        // The tickets used, and by which log: read under the class's lock, so a ticket two
        // processes were sent at once is seen used by the second.
        std::vector<std::string> tickets;
        for (const Pending* p : changes)
            if (p->change.game)
                tickets.push_back(p->change.game->ticket);
        std::map<std::string, std::string> used;
        if (!tickets.empty()) {
            const Result r = c.exec("SELECT ticket, log FROM games WHERE class_id = $1 AND ticket = ANY($2::text[])",
                                    {number(classId), text(textArray(tickets))});
            for (int i = 0; i < r.rows(); ++i)
                used.emplace(r.get(i, 0), r.get(i, 1));
        }
        std::string gamesSql;
        std::vector<Param> games;
        std::string entriesSql;
        std::vector<Param> entries;
        const auto writeEntries = [&] {
            if (entries.empty())
                return;
            entries.insert(entries.begin(), number(classId));
            c.exec(("INSERT INTO entries (class_id, client_id, time, hani, tensu, name) VALUES " + entriesSql).c_str(),
                   entries);
            entries.clear();
            entriesSql.clear();
        };
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
                const bool alone = change.game && !change.entry && !change.mark;
                if (change.game) {
                    const auto u = used.find(change.game->ticket);
                    if (u != used.end() && alone && u->second == change.game->log)
                        continue; // sent again
                    if (u != used.end())
                        throw TicketUsed("ticket already used");
                }
                if (change.entry || alone) {
                    p->outcome = {alone ? image : change.apply(image), true};
                } else {
                    writeEntries();
                    p->outcome = {point(c, classId, change, p->time, image), true};
                }
            } catch (const StoreDown&) {
                throw;
            } catch (...) {
                p->error = std::current_exception();
                continue;
            }
            if (!change.id.empty())
                seen.insert(seenAs);
            if (change.game) {
                const GameRow& g = *change.game;
                used.emplace(g.ticket, g.log);
                const std::size_t n = games.size();
                gamesSql += (n ? ", (" : "(") + std::string("$1");
                for (std::size_t k = 2; k <= 7; ++k)
                    gamesSql += ", $" + std::to_string(n + k);
                gamesSql += ")";
                games.insert(games.end(), {text(g.ticket), text(p->time), number(g.seed), number(g.range),
                                           number(g.score), text(g.log)});
            }
            if (change.entry) {
                const EntryRow& e = *change.entry;
                const std::size_t n = entries.size();
                entriesSql += (n ? ", (" : "(") + std::string("$1");
                for (std::size_t k = 2; k <= 6; ++k)
                    entriesSql += ", $" + std::to_string(n + k);
                entriesSql += ")";
                entries.insert(entries.end(),
                               {text(change.id), text(p->time), number(e.range), number(e.score), text(e.name)});
            }
            image = p->outcome.image;
        }
        writeEntries();
        if (!games.empty()) {
            games.insert(games.begin(), number(classId));
            c.exec(("INSERT INTO games (class_id, ticket, time, seed, hani, tensu, log) VALUES " + gamesSql).c_str(),
                   games);
        }
        // Every process's streams of the class hear of a change once the transaction commits.
        const bool changed = std::any_of(changes.begin(), changes.end(),
                                         [](const Pending* p) { return !p->error && p->outcome.applied; });
        if (row.rows())
            c.exec("WITH u AS (UPDATE classes SET image = $1 WHERE id = $2 RETURNING id) " + notify
                       + " FROM u WHERE $3",
                   {bytes(image), number(classId), text(changed ? "true" : "false")});
    }
    static inline const std::string notify = notifySql("id::text"); // of u.id

    // A change that is no save: an entry marked, or a point. Reads what it needs first, and
    // throws NotFound before writing anything. Returns the class's image after it.
    static std::string point(Connection& c, std::int64_t classId, const Change& change, const std::string& time,
                             const std::string& before)
    {
        const Result row =
            c.exec("SELECT base, base_seq, (SELECT COALESCE(MAX(seq), 0) FROM entries WHERE class_id = $1) "
                   "FROM classes WHERE id = $1",
                   {number(classId)});
        std::string base = row.blob(0, 0);
        std::int64_t baseSeq = row.number(0, 1);
        const std::int64_t lastSeq = row.number(0, 2);
        if (change.mark) {
            const Result entry = c.exec("SELECT seq FROM entries WHERE class_id = $1 AND client_id = $2",
                                        {number(classId), text(*change.mark)});
            if (!entry.rows())
                throw NotFound("no such entry");
            const std::int64_t seq = entry.number(0, 0);
            c.exec("UPDATE entries SET removed = $1 WHERE seq = $2", {number(change.removed), number(seq)});
            return seq > baseSeq ? replayed(base, entriesSince(c, classId, baseSeq)) : before;
        }
        std::string image;
        const std::string pastBase = base;
        const std::int64_t pastSeq = baseSeq;
        if (change.restore) {
            const Result past = c.exec("SELECT base, base_seq FROM history WHERE class_id = $1 AND number = $2",
                                       {number(classId), number(change.restore)});
            if (!past.rows())
                throw NotFound("no such history");
            base = past.blob(0, 0);
            baseSeq = past.number(0, 1);
            image = replayed(base, entriesSince(c, classId, baseSeq));
        } else {
            image = base = change.apply(before);
            baseSeq = lastSeq;
        }
        c.exec("INSERT INTO history (class_id, client_id, time, what, image, base, base_seq) VALUES ($1, $2, $3, $4, "
               "$5, $6, $7)",
               {number(classId), textOrNull(change.id), text(time), text(change.what), bytes(before), bytes(pastBase),
                number(pastSeq)});
        c.exec("DELETE FROM history WHERE class_id = $1 AND number NOT IN "
               "(SELECT number FROM history WHERE class_id = $1 ORDER BY number DESC LIMIT $2)",
               {number(classId), number(historyKept)});
        c.exec("UPDATE classes SET base = $1, base_seq = $2 WHERE id = $3",
               {bytes(base), number(baseSeq), number(classId)});
        return image;
    }

    // The class's entries saved after seq, oldest first.
    static std::vector<EntryRow> entriesSince(Connection& c, std::int64_t classId, std::int64_t seq)
    {
        const Result r = c.exec("SELECT client_id, time, hani, tensu, name, removed, seq FROM entries WHERE class_id = "
                                "$1 AND seq > $2 ORDER BY seq",
                                {number(classId), number(seq)});
        std::vector<EntryRow> list;
        for (int i = 0; i < r.rows(); ++i)
            list.push_back({r.get(i, 0), r.get(i, 1), int(r.number(i, 2)), int(r.number(i, 3)), r.get(i, 4),
                            r.number(i, 5) != 0, r.number(i, 6)});
        return list;
    }

    std::string conninfo;
    Pool pool;
    std::unique_ptr<RoundStore> roundStore = postgresRounds(pool);
};

} // namespace

std::unique_ptr<Store> openPostgresStore(const std::string& conninfo)
{
    return std::make_unique<PostgresStore>(conninfo);
}

} // namespace server

// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/mistakes.h"

#include "server/json.h"
#include "server/rounds.h"

#include "rules/game_log.h"

#include <numeric>

namespace server {

namespace {

// The answer buttons shown, in their order: relation r is shownButtons[r].
constexpr std::array<std::int16_t, relationCount> shownButtons = [] {
    std::array<std::int16_t, relationCount> buttons{};
    int r = 0;
    for (std::int16_t b = 0; b < game::answers; ++b)
        if (b != game::hiddenAnswer)
            buttons[std::size_t(r++)] = b;
    return buttons;
}();

// Local midnight of the day `daysBack` days before the day of `local`.
std::time_t midnight(std::tm local, int daysBack)
{
    local.tm_mday -= daysBack;
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1; // as it is on that day
    return std::mktime(&local);
}

} // namespace

std::optional<int> relationOfButton(std::int16_t button)
{
    for (int r = 0; r < relationCount; ++r)
        if (shownButtons[std::size_t(r)] == button)
            return r;
    return std::nullopt;
}

std::optional<int> relationOfKind(std::int16_t kankei)
{
    for (int r = 0; r < relationCount; ++r)
        if (question::isRightAnswer(kankei, shownButtons[std::size_t(r)]))
            return r;
    return std::nullopt;
}

int Mistakes::shown(int relation) const
{
    const auto& row = answered[std::size_t(relation)];
    return std::accumulate(row.begin(), row.end(), timedOut[std::size_t(relation)]);
}

void Mistakes::add(const gamelog::Replay& game)
{
    ++games;
    for (const gamelog::ReplayedQuestion& q : game.questions) {
        const std::optional<int> shown = relationOfKind(q.relation.kankei);
        if (!shown)
            continue;
        if (q.answer.button == gamelog::timedOut)
            ++timedOut[std::size_t(*shown)];
        else if (const std::optional<int> named = relationOfButton(q.answer.button))
            ++answered[std::size_t(*shown)][std::size_t(*named)];
    }
}

std::array<Period, 3> periodsAt(std::time_t now)
{
    const std::tm local = localTime(now);
    const int sinceMonday = (local.tm_wday + 6) % 7;
    return {Period{"今日", timeText(midnight(local, 0))}, Period{"今週", timeText(midnight(local, sinceMonday))},
            Period{"これまで", ""}};
}

std::vector<std::pair<Period, Mistakes>> classMistakes(Store& store, std::int64_t classId, std::time_t now)
{
    std::vector<std::pair<Period, Mistakes>> out;
    for (const Period& p : periodsAt(now))
        out.emplace_back(p, Mistakes{});
    // Each game replayed once, and counted in every period it falls in.
    std::vector<GameRow> games = store.games(classId, "");
    for (GameRow& g : roundGames(store, classId)) // each joined device's round
        games.push_back(std::move(g));
    for (const GameRow& g : games) {
        const auto log = gamelog::parse(g.log);
        const gamelog::GameLog* parsed = std::get_if<gamelog::GameLog>(&log);
        const auto replay = parsed ? gamelog::replay(g.seed, *parsed) : std::get<gamelog::Refusal>(log);
        const gamelog::Replay* played = std::get_if<gamelog::Replay>(&replay);
        for (auto& [p, m] : out)
            if (played && g.time >= p.since)
                m.add(*played);
    }
    return out;
}

std::string mistakesJson(const std::vector<std::pair<Period, Mistakes>>& periods)
{
    std::string out = "{\"relations\":[";
    for (int r = 0; r < relationCount; ++r)
        out += std::string(r ? "," : "") + jsonString(relationNames[std::size_t(r)]);
    out += "],\"periods\":[";
    bool first = true;
    for (const auto& [p, m] : periods) {
        out += std::string(first ? "" : ",") + "{\"name\":" + jsonString(p.name) + ",\"since\":" + jsonString(p.since)
               + ",\"games\":" + std::to_string(m.games) + ",\"rows\":[";
        for (int s = 0; s < relationCount; ++s) {
            out += s ? ",[" : "[";
            for (const int n : m.answered[std::size_t(s)])
                out += std::to_string(n) + ",";
            out += std::to_string(m.timedOut[std::size_t(s)]) + "]";
        }
        out += "]}";
        first = false;
    }
    return out + "]}";
}

std::string mistakesCsv(const std::vector<std::pair<Period, Mistakes>>& periods)
{
    std::string csv = "\xEF\xBB\xBF\"期間\",\"出題\"";
    for (const std::string_view name : relationNames)
        csv += ",\"" + std::string(name) + "と答えた\"";
    csv += ",\"時間切れ\",\"出題数\"\r\n";
    for (const auto& [p, m] : periods)
        for (int s = 0; s < relationCount; ++s) {
            csv += "\"" + std::string(p.name) + "\",\"" + std::string(relationNames[std::size_t(s)]) + "\"";
            for (const int n : m.answered[std::size_t(s)])
                csv += "," + std::to_string(n);
            csv += "," + std::to_string(m.timedOut[std::size_t(s)]) + "," + std::to_string(m.shown(s)) + "\r\n";
        }
    return csv;
}

} // namespace server

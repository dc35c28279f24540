// SPDX-License-Identifier: GPL-3.0-or-later
// The class round's requests: the pupils' reads, joins and answers, a round's entry, and the
// teacher's board and start. The server's clock (ApiOptions.clock) alone times them; what a
// device says of times or points is never read.
#include "server/rounds.h"

#include "server/api.h"
#include "server/encoding.h"
#include "server/json.h"

#include "rules/class_key.h"
#include "rules/game_replay.h"
#include "rules/ranges.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>

namespace server {

namespace {

Response json(std::string body)
{
    return {200, "application/json", std::move(body), {{"Cache-Control", "no-store"}}};
}

std::string flag(bool b)
{
    return b ? "true" : "false";
}

std::string answerJson(const RoundAnswer& a)
{
    return "{\"question\":" + std::to_string(a.question) + ",\"button\":" + std::to_string(a.button) + ",\"points\":"
           + std::to_string(a.points) + ",\"counted\":" + flag(a.counted) + ",\"right\":" + flag(a.right) + "}";
}

// What the round's members common to both sides say: number, range, tick, start, end.
std::string roundHead(const RoundRow& r)
{
    return "{\"number\":" + std::to_string(r.number) + ",\"range\":" + std::to_string(r.range) + ",\"tick\":"
           + std::to_string(r.tick) + ",\"start\":" + std::to_string(r.start) + ",\"end\":" + std::to_string(r.end);
}

// Whether question q's answer `button` is right, as a replay of the round's game judges it.
bool rightAnswer(const RoundRow& round, int q, std::int16_t button)
{
    gamelog::GameLog log{std::int16_t(round.range), {}, round.tick};
    log.answers.assign(question::questionsPerGame, gamelog::Answer{gamelog::timedOut, 0, std::int16_t(round.range)});
    log.answers[std::size_t(q)].button = button;
    const auto replay = gamelog::replay(round.seed, log);
    const gamelog::Replay* played = std::get_if<gamelog::Replay>(&replay);
    return played && played->questions[std::size_t(q)].right;
}

} // namespace

classround::Schedule scheduleOf(const RoundRow& round)
{
    return {round.start, round.tick};
}

gamelog::GameLog roundLog(const RoundRow& round, const RoundDevice& device)
{
    gamelog::GameLog log{std::int16_t(round.range), {}, round.tick};
    log.answers.assign(question::questionsPerGame, gamelog::Answer{gamelog::timedOut, 0, std::int16_t(round.range)});
    for (const RoundAnswer& a : device.answers)
        if (a.counted && a.question >= 0 && a.question < question::questionsPerGame)
            log.answers[std::size_t(a.question)] = {std::int16_t(a.button), std::int16_t(a.points),
                                                    std::int16_t(round.range)};
    return log;
}

std::vector<GameRow> roundGames(Store& store, std::int64_t classId)
{
    std::vector<GameRow> games;
    for (const auto& [round, devices] : store.rounds().all(classId))
        for (const RoundDevice& d : devices) {
            const gamelog::GameLog log = roundLog(round, d);
            int score = 0;
            for (const gamelog::Answer& a : log.answers)
                score += a.points;
            games.push_back(
                {"", round.seed, round.range, score, gamelog::write(log), timeText(std::time_t(round.start / 1000))});
        }
    return games;
}

std::string timeMark(const TicketDesk& desk, std::int64_t t, const std::string& device)
{
    return desk.sign("round-time " + std::to_string(t) + " " + device);
}

std::optional<std::int64_t> roundTrip(const TicketDesk& desk, std::int64_t t, const std::string& mark,
                                      const std::string& device, std::int64_t now)
{
    const std::string expected = timeMark(desk, t, device);
    if (mark.size() != expected.size() || CRYPTO_memcmp(expected.data(), mark.data(), expected.size()) != 0)
        return std::nullopt;
    if (t > now || now - t >= signedTimeLife)
        return std::nullopt;
    return now - t;
}

std::string roundEntryId(std::int64_t number, const std::string& device)
{
    return ("r" + std::to_string(number) + "-" + device).substr(0, 64);
}

std::int64_t Api::now() const
{
    if (options.clock)
        return options.clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Response Api::pupilsRound(const Request& request, std::string_view key, Handler handler)
{
    const bool events = handler == Handler::pupilsEvents, read = handler == Handler::roundRead;
    const bool device = isClientId(request.device);
    if (!events && !device)
        return errorResponse(400, "device id missing");
    if (!events && limited("round " + request.device, perRoundDevice))
        return errorResponse(429, "too many requests");
    if (request.body.size() > pupilBodyLimit)
        return errorResponse(413, "request too large");
    const std::optional<ClassInfo> known = store.findClass(key, false);
    if (!known) {
        limited(request.client, perAddress);
        return errorResponse(404, "not found");
    }
    if (!events && limited("round class " + std::to_string(known->id), perRoundClass))
        return errorResponse(429, "too many requests");
    if (events) {
        Response r{
            200, "text/event-stream", "", {{"Cache-Control", "no-store"}, {"X-Accel-Buffering", "no"}}, known->id};
        r.pupilsStream = true;
        return r;
    }
    if (!desk)
        throw StoreDown("no ticket secret");
    RoundStore& rounds = store.rounds();
    if (read) {
        const std::int64_t at = now();
        std::string out = "{\"now\":" + std::to_string(at) + ",\"t\":" + std::to_string(at)
                          + ",\"mark\":" + jsonString(timeMark(*desk, at, request.device)) + ",\"round\":";
        const std::optional<RoundRow> r = rounds.latest(known->id);
        if (!r)
            return json(out + "null}");
        const std::optional<RoundDevice> mine = rounds.device(known->id, r->number, request.device);
        out += roundHead(*r) + ",\"seed\":" + std::to_string(r->seed) + ",\"joined\":" + flag(mine.has_value())
               + ",\"answers\":[";
        for (std::size_t i = 0; mine && i < mine->answers.size(); ++i)
            out += (i ? "," : "") + answerJson(mine->answers[i]);
        return json(out + "]}}");
    }

    const std::optional<JsonObject> body = parseFlatObject(request.body);
    if (!body)
        return errorResponse(400, "malformed JSON");
    const std::optional<std::int64_t> number = numberMember(*body, "number");
    if (!number)
        return errorResponse(400, "number must be a round's number");
    if (handler == Handler::roundJoin) {
        std::optional<std::string> name;
        if (body->count("name")) {
            name = textMember(*body, "name");
            const std::optional<std::u16string> typed = name ? fromUtf8(*name) : std::nullopt;
            if (const char* problem = typed ? nameProblem(*typed) : "name is not UTF-8")
                return errorResponse(400, problem);
        }
        const std::optional<std::int64_t> t = numberMember(*body, "t");
        const std::optional<std::string> mark = textMember(*body, "mark");
        const std::int64_t at = request.receivedAt ? request.receivedAt : now();
        const std::optional<std::int64_t> trip =
            t && mark ? roundTrip(*desk, *t, *mark, request.device, at) : std::nullopt;
        switch (rounds.join(known->id, *number, request.device, name, trip, at)) {
        case Joined::noSuchRound: return errorResponse(404, "not found");
        case Joined::started: return errorResponse(409, "round already started");
        case Joined::joined: break;
        }
        const std::optional<RoundDevice> mine = rounds.device(known->id, *number, request.device);
        std::vector<std::int64_t> trips;
        if (mine && mine->shortest)
            trips.push_back(*mine->shortest);
        return json("{\"joined\":true,\"allowance\":" + std::to_string(classround::allowance(trips)) + "}");
    }

    const std::optional<std::int64_t> q = numberMember(*body, "question");
    const std::optional<std::int64_t> button = numberMember(*body, "button");
    if (!q || *q < 0 || *q >= question::questionsPerGame)
        return errorResponse(400, "question must be 0 to 4");
    if (!button || *button < 0 || *button > 4 || !gamelog::isButton(std::int16_t(*button)))
        return errorResponse(400, "no such button");
    const std::int64_t received = request.receivedAt ? request.receivedAt : now();
    const std::optional<RoundRow> r = rounds.round(known->id, *number);
    if (!r)
        return errorResponse(404, "not found");
    const std::optional<RoundDevice> mine = rounds.device(known->id, *number, request.device);
    if (!mine)
        return errorResponse(409, "not in this round");
    std::vector<std::int64_t> trips;
    if (mine->shortest)
        trips.push_back(*mine->shortest);
    const classround::Taken taken = classround::take(scheduleOf(*r), int(*q), std::int16_t(r->range),
                                                     std::int16_t(*button), received, classround::allowance(trips));
    RoundAnswer a{int(*q), int(*button), 0, taken.counted, rightAnswer(*r, int(*q), std::int16_t(*button)), received};
    a.points = a.counted && a.right ? taken.answer.points : 0;
    return json(answerJson(rounds.answer(known->id, *number, request.device, a)));
}

Response Api::roundEntry(const Request& request, const ClassInfo& known, const JsonObject& body)
{
    if (!isClientId(request.device))
        return errorResponse(400, "device id missing");
    const std::optional<std::int64_t> number = numberMember(body, "round");
    if (!number)
        return errorResponse(400, "round must be a round's number");
    const std::variant<EntryFields, Response> fields = entryFields(body);
    if (const Response* refused = std::get_if<Response>(&fields))
        return *refused;
    const EntryFields& entry = std::get<EntryFields>(fields);
    const std::optional<RoundRow> r = store.rounds().round(known.id, *number);
    if (!r)
        return errorResponse(404, "not found");
    if (now() < r->end)
        return errorResponse(422, "round not over");
    const std::optional<RoundDevice> mine = store.rounds().device(known.id, *number, request.device);
    if (!mine)
        return errorResponse(409, "not in this round");
    if (entry.range != r->range)
        return errorResponse(422, "range is not the game's");
    const auto replay = gamelog::checkEntry(r->seed, roundLog(*r, *mine), entry.score);
    if (const gamelog::Refusal* why = std::get_if<gamelog::Refusal>(&replay))
        return errorResponse(422, gamelog::refusalText(*why));
    if (limited("class " + std::to_string(known.id), perClass))
        return errorResponse(429, "too many requests");
    const Change change =
        saveChange(roundEntryId(*number, request.device), {entry.range, entry.score, entry.typed}, entry.name);
    const Outcome outcome = store.change(known.id, change, timeNow());
    return json("{\"saved\":true,\"image\":\"" + base64(outcome.image) + "\"}");
}

Response Api::teachersRound(const Request& request, const ClassInfo& known)
{
    RoundStore& rounds = store.rounds();
    if (request.method == "POST") {
        const std::optional<JsonObject> body = parseFlatObject(request.body);
        const std::optional<std::int64_t> range = body ? numberMember(*body, "range") : std::nullopt;
        if (!range || *range < 0 || *range >= rangeCount)
            return errorResponse(400, "range must be 0 to 3");
        RoundRow wanted;
        wanted.range = int(*range);
        wanted.tick = question::tickMilliseconds;
        wanted.seed = std::uint32_t(std::random_device{}());
        wanted.start = now() + classround::leadMilliseconds;
        wanted.end = classround::roundEnd({wanted.start, wanted.tick});
        if (!rounds.start(known.id, wanted, now()))
            return errorResponse(409, "a round is under way");
    }
    const std::int64_t at = now();
    const std::optional<RoundRow> r = rounds.latest(known.id);
    if (!r)
        return json("{\"now\":" + std::to_string(at) + ",\"round\":null}");
    const std::vector<RoundDevice> devices = rounds.devices(known.id, r->number);
    std::array<std::pair<int, int>, question::questionsPerGame> questions{};
    struct Standing {
        const RoundDevice* device;
        int points = 0, answered = 0;
        std::int64_t reached = 0; // when it reached its points
    };
    std::vector<Standing> ranking;
    for (const RoundDevice& d : devices) {
        Standing s{&d};
        for (const RoundAnswer& a : d.answers) {
            if (!a.counted || a.question < 0 || a.question >= question::questionsPerGame)
                continue;
            ++questions[std::size_t(a.question)].first;
            questions[std::size_t(a.question)].second += a.right;
            ++s.answered;
            s.points += a.points;
            if (a.points > 0)
                s.reached = std::max(s.reached, a.received);
        }
        ranking.push_back(s);
    }
    std::stable_sort(ranking.begin(), ranking.end(), [](const Standing& a, const Standing& b) {
        return a.points != b.points ? a.points > b.points : a.reached < b.reached;
    });
    std::string out = "{\"now\":" + std::to_string(at) + ",\"round\":" + roundHead(*r)
                      + ",\"joined\":" + std::to_string(devices.size()) + ",\"questions\":[";
    for (std::size_t q = 0; q < questions.size(); ++q)
        out += std::string(q ? "," : "")
               + "{\"start\":" + std::to_string(classround::questionStart(scheduleOf(*r), int(q))) + ",\"answered\":"
               + std::to_string(questions[q].first) + ",\"right\":" + std::to_string(questions[q].second) + "}";
    out += "],\"ranking\":[";
    for (std::size_t i = 0; i < ranking.size(); ++i)
        out += std::string(i ? "," : "") + "{\"name\":"
               + jsonString(ranking[i].device->name.empty() ? "名前なし" : ranking[i].device->name) + ",\"points\":"
               + std::to_string(ranking[i].points) + ",\"answered\":" + std::to_string(ranking[i].answered) + "}";
    return json(out + "]}}");
}

} // namespace server

// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/api.h"

#include "server/encoding.h"
#include "server/json.h"
#include "server/teacher.h"

#include "rules/class_key.h"
#include "rules/name_box.h"
#include "rules/question.h"
#include "rules/ranges.h"
#include "rules/ranking.h"

#include <cctype>
#include <ctime>

namespace server {

namespace {

// The first segment of path and the rest after its slash ("" when there is none); hasSlash
// says whether a slash followed the segment.
std::string_view firstSegment(std::string_view path, std::string_view& rest, bool& hasSlash)
{
    const std::size_t slash = path.find('/');
    hasSlash = slash != std::string_view::npos;
    rest = hasSlash ? path.substr(slash + 1) : std::string_view();
    return path.substr(0, slash);
}

Response json(std::string body)
{
    return {200, "application/json", std::move(body), {{"Cache-Control", "no-store"}}};
}

// The origin of an address, "scheme://host[:port]" in lower case without the scheme's default
// port; empty when it has no scheme (Origin "null").
std::string originOf(std::string_view address)
{
    const std::size_t scheme = address.find("://");
    if (scheme == std::string_view::npos)
        return {};
    std::string origin(address.substr(0, address.find_first_of("/?#", scheme + 3)));
    for (char& c : origin)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& [start, port] : {std::pair{"http://", ":80"}, std::pair{"https://", ":443"}})
        if (origin.starts_with(start) && origin.ends_with(port))
            origin.resize(origin.size() - std::string_view(port).size());
    return origin;
}

} // namespace

bool isClientId(const std::string& id)
{
    return id.size() >= 8 && id.size() <= 64 && classkey::isUrlSafe(id);
}

std::variant<EntryFields, Response> entryFields(const JsonObject& body)
{
    const std::optional<std::int64_t> range = numberMember(body, "range");
    const std::optional<std::int64_t> score = numberMember(body, "score");
    const std::optional<std::string> name = textMember(body, "name");
    if (!range || *range < 0 || *range >= rangeCount)
        return errorResponse(400, "range must be 0 to 3");
    if (!score || *score < 0 || *score > maxScore)
        return errorResponse(400, "score must be 0 to 50");
    if (!name)
        return errorResponse(400, "name missing");
    const std::optional<std::u16string> typed = fromUtf8(*name);
    if (const char* problem = typed ? nameProblem(*typed) : "name is not UTF-8")
        return errorResponse(400, problem);
    return EntryFields{std::int16_t(*range), std::int16_t(*score), *name, *typed};
}

std::string pupilsLink(const std::string& base, const std::string& classKey)
{
    return base + "c/" + classKey + "/";
}
std::string teachersLink(const std::string& base, const std::string& teacherKey)
{
    return base + "t/" + teacherKey + "/";
}

Response errorResponse(int status, std::string_view reason)
{
    return {status, "application/json", "{\"error\":" + jsonString(reason) + "}", {{"Cache-Control", "no-store"}}};
}

Api::Api(Store& store, ApiOptions options) : store(store), options(std::move(options))
{
    try {
        desk.emplace(ticketSecret(store));
    } catch (const StoreDown&) {
        // a read-only data folder that never had one: tickets and entries answer 503
    }
}

std::variant<GameRow, Response> Api::game(const ClassInfo& known, const JsonObject& body, std::optional<int> score,
                                          std::optional<int> range)
{
    if (!desk)
        throw StoreDown("no ticket secret");
    auto checked = checkedGame(*desk, known.id, body, score, range, std::time(nullptr));
    if (const std::string* why = std::get_if<std::string>(&checked))
        return errorResponse(422, *why);
    return std::get<GameRow>(std::move(checked));
}

bool Api::limited(const std::string& name, RateLimit& buckets)
{
    return options.rateLimits && !buckets.take(name);
}

bool Api::flooding(const Request& request)
{
    const std::string device = isClientId(request.device) ? "device " + request.device : "address " + request.client;
    return limited(device, perDevice) || limited(request.client, perAddress);
}

bool Api::fromOwnPages(const Request& request) const
{
    if (!request.fetchSite.empty() && request.fetchSite != "same-origin" && request.fetchSite != "none")
        return false;
    if (request.origin.empty())
        return true;
    const std::string origin = originOf(request.origin);
    return !origin.empty()
           && ((!request.host.empty()
                && (origin == originOf("http://" + request.host) || origin == originOf("https://" + request.host)))
               || origin == originOf(options.base));
}

Response Api::handle(const Request& request)
{
    try {
        Response r = route(request);
        if (request.method == "HEAD") {
            r.body.clear();
            r.stream = 0;
        }
        return r;
    } catch (const StoreDown&) {
        return errorResponse(503, "database unavailable");
    } catch (const std::exception&) {
        return errorResponse(500, "internal error");
    }
}

Response Api::route(const Request& request)
{
    if (request.method != "GET" && request.method != "HEAD" && request.method != "POST")
        return errorResponse(405, "method not allowed");
    if (request.path.empty() || request.path[0] != '/')
        return errorResponse(400, "bad path");
    std::string_view rest;
    bool slash = false;
    const std::string_view top = firstSegment(std::string_view(request.path).substr(1), rest, slash);
    if (top == "api") {
        std::string_view version, kind, key, tail;
        version = firstSegment(rest, rest, slash);
        kind = firstSegment(rest, rest, slash);
        key = firstSegment(rest, tail, slash);
        const std::optional<Side> side = sideNamed(version, kind);
        if (!side)
            return errorResponse(404, "not found");
        if (!classkey::isClassKey(key)) {
            limited(request.client, perAddress);
            return errorResponse(404, "not found");
        }
        const RouteMatch match = findRoute(*side, request.method, slash ? std::optional(tail) : std::nullopt);
        if (side == Side::pupils)
            return pupils(request, key, match);
        // Every change a teacher makes passes here: none from another site's page.
        if (request.method == "POST" && !fromOwnPages(request))
            return errorResponse(403, "cross-origin request");
        return teachers(request, key, match);
    }
    if (top == "c" || top == "t") {
        std::string_view tail;
        const std::string_view key = firstSegment(rest, tail, slash);
        const std::optional<ClassInfo> known =
            classkey::isClassKey(key) ? store.findClass(key, top == "t") : std::nullopt;
        if (!known) {
            limited(request.client, perAddress);
            return errorResponse(404, "not found");
        }
        if (!slash) // the class's folder, so that relative addresses in its pages resolve inside it
            return {301, "text/plain; charset=utf-8", "", {{"Location", std::string(key) + "/"}}};
        if (request.method == "POST")
            return errorResponse(405, "method not allowed");
        if (top == "t")
            return teacherPageFile(tail);
        return siteFile(tail);
    }
    if (request.method == "POST")
        return errorResponse(405, "method not allowed");
    return siteFile(std::string_view(request.path).substr(1));
}

Response Api::pupils(const Request& request, std::string_view key, const RouteMatch& match)
{
    if (match.status)
        return errorResponse(match.status, match.error);
    const Handler handler = match.route->handler;
    switch (handler) {
    case Handler::roundRead:
    case Handler::roundJoin:
    case Handler::roundAnswers:
    case Handler::pupilsEvents: return pupilsRound(request, key, handler);
    default: break; // classRead, tickets, entries, games, blank: below
    }
    const bool none = handler == Handler::classRead, save = handler == Handler::entries;
    if (!none && flooding(request))
        return errorResponse(429, "too many requests");
    if (request.body.size() > pupilBodyLimit)
        return errorResponse(413, "request too large");
    const std::optional<ClassInfo> known = store.findClass(key, false);
    if (!known) {
        limited(request.client, perAddress);
        return errorResponse(404, "not found");
    }
    if (none)
        return json("{\"name\":" + jsonString(known->name) + ",\"image\":\"" + base64(known->image) + "\"}");
    if (handler == Handler::tickets) {
        if (!desk)
            throw StoreDown("no ticket secret");
        std::string list;
        for (int i = 0; i < ticketStock; ++i)
            list += (i ? ",\"" : "\"") + desk->issue(known->id, std::time(nullptr)) + "\"";
        return json("{\"tickets\":[" + list + "]}");
    }

    const std::optional<JsonObject> body = parseFlatObject(request.body);
    if (!body)
        return errorResponse(400, "malformed JSON");
    Change change;
    if (handler == Handler::games) {
        auto g = game(*known, *body, std::nullopt, std::nullopt);
        if (Response* refused = std::get_if<Response>(&g))
            return *refused;
        change.what = "game";
        change.game = std::get<GameRow>(std::move(g));
        if (limited("class " + std::to_string(known->id), perClass))
            return errorResponse(429, "too many requests");
        try {
            store.change(known->id, change, timeNow());
        } catch (const TicketUsed& e) {
            return errorResponse(422, e.what());
        }
        return json("{\"stored\":true}");
    }
    if (save && body->count("round"))
        return roundEntry(request, *known, *body);
    const std::optional<std::string> id = textMember(*body, "id");
    if (!id || !isClientId(*id))
        return errorResponse(400, "id must be 8 to 64 of A-Z a-z 0-9 _ -");
    change.id = *id;
    if (save) {
        const std::variant<EntryFields, Response> fields = entryFields(*body);
        if (const Response* refused = std::get_if<Response>(&fields))
            return *refused;
        const EntryFields& entry = std::get<EntryFields>(fields);
        // Unreplayed (benchmarks only), the game goes in as sent, where it has a ticket.
        std::variant<GameRow, Response> g =
            GameRow{textMember(*body, "ticket").value_or(""), 0, entry.range, entry.score,
                    textMember(*body, "log").value_or(""),    {}};
        if (options.replay && std::holds_alternative<Response>(g = game(*known, *body, entry.score, entry.range)))
            return std::get<Response>(g);
        change = saveChange(*id, {entry.range, entry.score, entry.typed}, entry.name);
        if (!std::get<GameRow>(g).ticket.empty())
            change.game = std::get<GameRow>(std::move(g));
    } else {
        if (!known->pupilsBlank)
            return errorResponse(403, "only the teacher clears this class's lists");
        if (limited("class " + std::to_string(known->id), perClassBlank))
            return errorResponse(429, "too many requests");
        change.what = "blank";
        change.apply = [](const std::string& image) { return results::blankedImage(image); };
    }
    if (limited("class " + std::to_string(known->id), perClass))
        return errorResponse(429, "too many requests");
    Outcome outcome;
    try {
        outcome = store.change(known->id, change, timeNow());
    } catch (const TicketUsed& e) {
        return errorResponse(422, e.what());
    }
    if (save)
        return json("{\"saved\":true,\"image\":\"" + base64(outcome.image) + "\"}");
    return json("{\"image\":\"" + base64(outcome.image) + "\"}");
}

Change saveChange(const std::string& id, const results::NewEntry& entry, const std::string& name)
{
    Change change;
    change.id = id;
    change.what = "save";
    change.entry = EntryRow{id, {}, entry.hani, entry.tensu, name};
    change.apply = [entry](const std::string& image) { return results::savedImage(image, entry); };
    return change;
}

const char* nameProblem(std::u16string_view name)
{
    switch (results::nameFault(name)) {
    case results::NameFault::none: return nullptr;
    case results::NameFault::controlCharacters: return "name has control characters";
    case results::NameFault::tooManyCharacters: return "name longer than 10 characters";
    case results::NameFault::tooManyBytes: return "name does not fit 10 Shift-JIS bytes";
    }
    return "name cannot be saved";
}

} // namespace server

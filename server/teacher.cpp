// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/teacher.h"

#include "server/encoding.h"
#include "server/import_check.h"
#include "server/json.h"
#include "server/mistakes.h"
#include "server/qr.h"

#include "rules/number_text.h"
#include "rules/ranges.h"
#include "rules/ranking.h"

#include <algorithm>

namespace server {

namespace {

#include "teacher_files.inc" // teacherHtml, teacherJs, teacherCss, teacherRoundJs, teacherRoundCss: server/teacher/

// The lists of every range as the results window shows them: place, name, score, and the
// entry's id for a row that one of the class's saved entries made (given ids, one a row).
std::string listsJson(const std::string& image, const std::vector<std::string>& ids = {})
{
    results::BestFiveLists lists;
    results::readLists(image, lists);
    std::string out = "[";
    for (int r = 0; r < rangeCount; ++r) {
        out +=
            std::string(r ? "," : "") + "{\"range\":" + jsonString(toUtf8(rangeName(std::int16_t(r)))) + ",\"rows\":[";
        for (int p = 0; p < results::places; ++p) {
            const int i = r * results::places + p;
            out += std::string(p ? "," : "") + "{\"place\":" + jsonString(toUtf8(numtext::numberText(p + 1)))
                   + ",\"name\":" + jsonString(toUtf8(lists.seisekinamae[i]))
                   + ",\"score\":" + jsonString(toUtf8(numtext::plainText(lists.seisekijikan[i])));
            if (!ids.empty() && !ids[std::size_t(i)].empty())
                out += ",\"entry\":" + jsonString(ids[std::size_t(i)]);
            out += "}";
        }
        out += "]}";
    }
    return out + "]";
}

// Which saved entry each row of the class's lists is: the entries saved since the last point
// (and not removed) entered in their order onto its base, as the store replays them. The rows
// of the base (an import's, a restored state's, those saved before a 初期化) are no entry's:
// empty ids. None at all when a row named does not show its entry's score (never expected).
std::vector<std::string> rowIds(const ClassInfo& c, const std::vector<EntryRow>& entries)
{
    std::vector<std::string> ids(results::entryCount);
    std::vector<EntryRow> since;
    for (const EntryRow& e : entries) {
        if (e.seq > c.baseSeq && !e.removed)
            since.push_back(e);
    }
    results::BestFiveLists lists;
    results::readLists(c.base, lists);
    for (const EntryRow& e : since) {
        if (!results::BestFiveLists::hasRange(std::int16_t(e.range)))
            continue;
        const int at = lists.enter(std::int16_t(e.range), std::int16_t(e.score));
        if (at < 0)
            continue;
        for (int i = (at / results::places + 1) * results::places - 1; i > at; --i)
            ids[std::size_t(i)] = ids[std::size_t(i - 1)];
        ids[std::size_t(at)] = e.id;
    }
    // Each row named must show its entry's score (the names are shown as the list's field
    // holds them, cut or with "?").
    results::BestFiveLists shown;
    results::readLists(c.image, shown);
    for (int i = 0; i < rangeCount * results::places; ++i) {
        const std::string& id = ids[std::size_t(i)];
        if (!id.empty() && std::find_if(since.begin(), since.end(), [&](const EntryRow& e) {
                               return e.id == id && e.score == shown.seisekijikan[i];
                           }) == since.end())
            return {};
    }
    return ids;
}

Response file(int status, const char* type, std::string body, const char* disposition = nullptr)
{
    Response r{status, type, std::move(body), {{"Cache-Control", "no-store"}}};
    if (disposition)
        r.headers.emplace_back("Content-Disposition", disposition);
    return r;
}

} // namespace

Response teacherPageFile(std::string_view name)
{
    // The page runs its own script only, and shows no frame of anyone else's.
    const std::pair<std::string, std::string> policy{
        "Content-Security-Policy", "default-src 'self'; img-src 'self'; frame-ancestors 'none'; base-uri 'none'"};
    Response r;
    if (name.empty() || name == "index.html")
        r = {200, "text/html; charset=utf-8", std::string(teacherHtml), {}};
    else if (name == "teacher.js")
        r = {200, "text/javascript; charset=utf-8", std::string(teacherJs), {}};
    else if (name == "round.js")
        r = {200, "text/javascript; charset=utf-8", std::string(teacherRoundJs), {}};
    else if (name == "teacher.css")
        r = {200, "text/css; charset=utf-8", std::string(teacherCss), {}};
    else if (name == "round.css")
        r = {200, "text/css; charset=utf-8", std::string(teacherRoundCss), {}};
    else
        return errorResponse(404, "not found");
    r.headers = {
        policy, {"X-Frame-Options", "DENY"}, {"Cache-Control", "no-cache"}, {"Referrer-Policy", "no-referrer"}};
    return r;
}

std::string entriesCsv(const std::vector<EntryRow>& entries)
{
    auto field = [](std::string text) {
        if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@'))
            text.insert(0, "'");
        std::string quoted = "\"";
        for (const char c : text)
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        return quoted + "\"";
    };
    std::string csv = "\xEF\xBB\xBF"
                      "\"時刻\",\"範囲\",\"得点\",\"名前\",\"取り消し\"\r\n";
    for (const EntryRow& e : entries)
        csv += field(localTimeText(e.time)) + "," + field(toUtf8(rangeName(std::int16_t(e.range)))) + ","
               + std::to_string(e.score) + "," + field(e.name) + "," + field(e.removed ? "取り消し済み" : "") + "\r\n";
    return csv;
}

Response Api::teachers(const Request& request, std::string_view key, const RouteMatch& match)
{
    const bool post = request.method == "POST";
    const bool importing = match.is(Handler::import) || match.is(Handler::importCheck);
    if (post && limited(request.client, perAddress))
        return errorResponse(429, "too many requests");
    if (request.body.size() > (importing ? importLimit : pupilBodyLimit))
        return errorResponse(413, importing ? importRefusal(request.body)->reason : "request too large");
    const std::optional<ClassInfo> known = store.findClass(key, true);
    if (!known) {
        limited(request.client, perAddress);
        return errorResponse(404, "not found");
    }
    if (match.status)
        return errorResponse(match.status, match.error);
    const Handler handler = match.route->handler;
    const std::string link = pupilsLink(options.base, known->classKey);

    switch (handler) {
    case Handler::roundBoard:
    case Handler::roundStart: return teachersRound(request, *known);
    case Handler::entriesCsv:
        return file(200, "text/csv; charset=utf-8", entriesCsv(store.entries(known->id)),
                    "attachment; filename=\"entries.csv\"");
    case Handler::mistakesCsv:
        return file(200, "text/csv; charset=utf-8", mistakesCsv(classMistakes(store, known->id, std::time(nullptr))),
                    "attachment; filename=\"mistakes.csv\"");
    case Handler::tavonRnk:
        return file(200, "application/octet-stream", known->image, "attachment; filename=\"tavon.rnk\"");
    case Handler::qrSvg: return file(200, "image/svg+xml", qrSvg(link));
    case Handler::teacherEvents: // kept open by the HTTP layer, which sends the class's changes
        return {200, "text/event-stream", "", {{"Cache-Control", "no-store"}, {"X-Accel-Buffering", "no"}}, known->id};
    default: break; // teacherView, then the changes: below
    }
    if (handler == Handler::teacherView) {
        const std::vector<EntryRow> entries = store.entries(known->id);
        std::string out = "{\"name\":" + jsonString(known->name) + ",\"link\":" + jsonString(link) + ",\"image\":\""
                          + base64(known->image) + "\",\"lists\":" + listsJson(known->image, rowIds(*known, entries))
                          + ",\"entries\":[";
        bool first = true;
        for (const EntryRow& e : entries) {
            out += std::string(first ? "" : ",") + "{\"id\":" + jsonString(e.id) + ",\"time\":" + jsonString(e.time)
                   + ",\"range\":" + std::to_string(e.range) + ",\"score\":" + std::to_string(e.score)
                   + ",\"name\":" + jsonString(e.name) + ",\"removed\":" + (e.removed ? "true" : "false") + "}";
            first = false;
        }
        out += std::string("],\"settings\":{\"pupilsBlank\":") + (known->pupilsBlank ? "true" : "false")
               + "},\"history\":[";
        first = true;
        for (const HistoryRow& h : store.history(known->id)) {
            out += std::string(first ? "" : ",") + "{\"number\":" + std::to_string(h.number) + ",\"id\":"
                   + jsonString(h.id) + ",\"time\":" + jsonString(h.time) + ",\"what\":" + jsonString(h.what)
                   + ",\"image\":\"" + base64(h.image) + "\",\"lists\":" + listsJson(h.image) + "}";
            first = false;
        }
        out += "],\"mistakes\":" + mistakesJson(classMistakes(store, known->id, std::time(nullptr)));
        return file(200, "application/json", out + "}");
    }
    Change change;
    const std::optional<JsonObject> body = handler == Handler::import ? std::nullopt : parseFlatObject(request.body);
    if (handler == Handler::settings) {
        const std::optional<bool> blanks = body ? boolMember(*body, "pupilsBlank") : std::nullopt;
        if (!blanks)
            return errorResponse(400, "pupilsBlank must be true or false");
        store.setPupilsBlank(known->id, *blanks);
        return file(200, "application/json",
                    std::string("{\"settings\":{\"pupilsBlank\":") + (*blanks ? "true" : "false") + "}}");
    }
    if (handler == Handler::remove || handler == Handler::reinstate) {
        std::optional<std::string> id = body ? textMember(*body, "id") : std::nullopt;
        if (!id)
            return errorResponse(400, "id must be an entry's id");
        change.what = handler == Handler::remove ? "remove" : "reinstate";
        change.mark = std::move(id);
        change.removed = handler == Handler::remove;
    } else if (handler == Handler::restore) {
        const std::optional<std::int64_t> number = body ? numberMember(*body, "history") : std::nullopt;
        if (!number)
            return errorResponse(400, "history must be a number");
        if (*number <= 0)
            return errorResponse(404, "not found");
        change.what = "restore";
        change.restore = *number;
    } else {
        if (const std::optional<ImportRefusal> refusal = importRefusal(request.body))
            return errorResponse(refusal->status, refusal->reason);
        if (handler == Handler::importCheck) // what the import would load, stored nowhere
            return file(200, "application/json", "{\"lists\":" + listsJson(request.body) + "}");
        change.what = "import";
        change.apply = [&request](const std::string&) { return request.body; };
    }
    Outcome outcome;
    try {
        outcome = store.change(known->id, change, timeNow());
    } catch (const NotFound&) {
        return errorResponse(404, "not found");
    }
    return file(200, "application/json", "{\"image\":\"" + base64(outcome.image) + "\"}");
}

} // namespace server

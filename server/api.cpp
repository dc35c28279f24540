// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/api.h"

#include "server/encoding.h"
#include "server/json.h"
#include "server/teacher.h"

#include "rules/question.h"
#include "rules/ranges.h"
#include "rules/ranking.h"

#include <filesystem>
#include <fstream>
#include <sstream>

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

// An entry's id, or a 初期化's: 8 to 64 of [A-Za-z0-9_-].
bool isClientId(const std::string& id)
{
    if (id.size() < 8 || id.size() > 64)
        return false;
    for (const char c : id)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    return true;
}

const char* contentType(const std::filesystem::path& file)
{
    static const std::pair<const char*, const char*> types[] = {
        {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
        {".json", "application/json"}, {".webmanifest", "application/manifest+json"},
        {".wasm", "application/wasm"}, {".png", "image/png"}, {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"}, {".txt", "text/plain; charset=utf-8"}, {".rnk", "application/octet-stream"}};
    const std::string ext = file.extension().string();
    for (const auto& [e, type] : types)
        if (ext == e)
            return type;
    return "application/octet-stream";
}

} // namespace

std::string pupilsLink(const std::string& base, const std::string& classKey) { return base + "c/" + classKey + "/"; }
std::string teachersLink(const std::string& base, const std::string& teacherKey) { return base + "t/" + teacherKey + "/"; }

Response errorResponse(int status, std::string_view reason)
{
    return {status, "application/json", "{\"error\":" + jsonString(reason) + "}", {{"Cache-Control", "no-store"}}};
}

Api::Api(Store& store, ApiOptions options) : store(store), options(std::move(options)) {}

bool Api::limited(const std::string& name, RateLimit& buckets)
{
    return options.rateLimits && !buckets.take(name);
}

Response Api::handle(const Request& request)
{
    try {
        Response r = route(request);
        if (request.method == "HEAD")
            r.body.clear();
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
        if (version != "v1" || (kind != "classes" && kind != "teachers"))
            return errorResponse(404, "not found");
        if (!isKeyForm(key)) {
            limited(request.client, perAddress);
            return errorResponse(404, "not found");
        }
        if (kind == "classes")
            return pupils(request, key, slash ? std::optional(tail) : std::nullopt);
        return teachers(request, key, slash ? std::optional(tail) : std::nullopt);
    }
    if (top == "c" || top == "t") {
        std::string_view tail;
        const std::string_view key = firstSegment(rest, tail, slash);
        const std::optional<ClassInfo> known = isKeyForm(key) ? store.findClass(key, top == "t") : std::nullopt;
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

Response Api::siteFile(std::string_view path) const
{
    namespace fs = std::filesystem;
    if (path.empty() || path.back() == '/')
        return siteFile(std::string(path) + "index.html");
    // Plain names only: no "..", no hidden files, no backslashes or NULs.
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view part = path.substr(at, end - at);
        if (part.empty() || part[0] == '.')
            return errorResponse(404, "not found");
        for (const char c : part)
            if (static_cast<unsigned char>(c) < 0x20 || c == '\\')
                return errorResponse(404, "not found");
        at = end + 1;
    }
    if (options.siteDir.empty())
        return errorResponse(404, "not found");
    const fs::path file = fs::path(options.siteDir) / path;
    std::error_code error;
    if (!fs::is_regular_file(file, error))
        return errorResponse(404, "not found");
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in)
        return errorResponse(404, "not found");
    return {200, contentType(file), std::move(bytes).str(), {{"Cache-Control", "no-cache"}}};
}

Response Api::pupils(const Request& request, std::string_view key, std::optional<std::string_view> rest)
{
    const bool none = !rest;
    const bool save = rest == "entries", blank = rest == "blank";
    if (!none && !save && !blank)
        return errorResponse(404, "not found");
    if ((none && request.method == "POST") || (!none && request.method != "POST"))
        return errorResponse(405, "method not allowed");
    if (!none && limited(request.client, perAddress))
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

    const std::optional<JsonObject> body = parseFlatObject(request.body);
    if (!body)
        return errorResponse(400, "malformed JSON");
    const std::optional<std::string> id = textMember(*body, "id");
    if (!id || !isClientId(*id))
        return errorResponse(400, "id must be 8 to 64 of A-Z a-z 0-9 _ -");
    Change change;
    change.id = *id;
    if (save) {
        const std::optional<std::int64_t> range = numberMember(*body, "range");
        const std::optional<std::int64_t> score = numberMember(*body, "score");
        const std::optional<std::string> name = textMember(*body, "name");
        if (!range || *range < 0 || *range >= rangeCount)
            return errorResponse(400, "range must be 0 to 3");
        if (!score || *score < 0 || *score > maxScore)
            return errorResponse(400, "score must be 0 to 50");
        if (!name)
            return errorResponse(400, "name missing");
        const std::optional<std::u16string> typed = fromUtf8(*name);
        if (const char* problem = typed ? nameProblem(*typed) : "name is not UTF-8")
            return errorResponse(400, problem);
        change = saveChange(*id, {std::int16_t(*range), std::int16_t(*score), *typed}, *name);
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
    const Outcome outcome = store.change(known->id, change, timeNow());
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
    if (results::typedName(name) != name)
        return "name has control characters";
    // A tag, an end tag, a comment or a declaration opens with "<" and a letter, "/", "!" or "?";
    // "<" and ">" in other places ("<3", ">_<") are a pupil's text, shown as text everywhere.
    for (std::size_t i = 0; i + 1 < name.size(); ++i) {
        const char16_t next = name[i + 1];
        if (name[i] == u'<' && ((next >= u'a' && next <= u'z') || (next >= u'A' && next <= u'Z') || next == u'/' || next == u'!' || next == u'?'))
            return "name has markup";
    }
    if (characterCount(name) > results::nameBytes)
        return "name longer than 10 characters";
    if (!results::nameFits(name))
        return "name does not fit 10 Shift-JIS bytes";
    return nullptr;
}

} // namespace server

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every request the server answers, as a plain function from a request to an answer, apart
// from the HTTP library (so that the fuzz target and the tests drive exactly what a client
// reaches). Paths are relative to the server's base, so that a reverse proxy can mount it
// under a sub-path:
//   /                      the site, with its lists on the device
//   /c/KEY/…               the same site for the class whose pupils' key is KEY
//   /t/KEY/…               the teacher's page of the class whose teacher's key is KEY
//   /api/v1/classes/KEY    GET the class's name and image; POST …/entries, POST …/blank
//   /api/v1/teachers/KEY   GET everything of the class; …/entries.csv, …/tavon.rnk, …/qr.svg;
//                          POST …/restore, …/import, …/remove, …/reinstate, …/settings
// Errors answer {"error": reason}: 400 malformed, 404 unknown (the same whatever the key),
// 405, 413 too large, 429 too many, 503 database unavailable. Nothing is stored for a refused
// request.
#include "server/rate_limit.h"
#include "server/store.h"

#include "rules/question.h"
#include "rules/ranking.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

struct Request {
    std::string method; // GET, HEAD or POST
    std::string path;   // below the base, from "/", without the query
    std::string body;
    std::string client; // the client's address, by which requests are rate-limited
    std::string device; // X-Nubora-Device: the id a device drew when it first opened the class link
    std::string origin; // Origin, as the browser sent it; empty when none was sent
    std::string host;   // Host
    std::string fetchSite; // Sec-Fetch-Site, as the browser sent it
};

struct Response {
    int status = 200;
    std::string type; // Content-Type
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

struct ApiOptions {
    std::string siteDir;    // the built site; empty or missing serves no files
    std::string base;       // the server's address as pupils reach it, ending in "/"
    bool rateLimits = true; // off only for benchmarks
};

inline constexpr std::size_t pupilBodyLimit = 512;  // a save or a 初期化
inline constexpr std::size_t importLimit = 65536;   // a tavon.rnk the teacher loads
inline constexpr int maxScore = question::questionsPerGame * question::fullPoints;

class Api {
public:
    Api(Store& store, ApiOptions options);
    Response handle(const Request& request);

private:
    Response route(const Request& request);
    // rest: what follows the key and its slash; nothing when no slash follows it.
    Response pupils(const Request& request, std::string_view key, std::optional<std::string_view> rest);
    Response teachers(const Request& request, std::string_view key, std::optional<std::string_view> rest);
    Response siteFile(std::string_view path) const;
    bool limited(const std::string& name, RateLimit& buckets);

    Store& store;
    ApiOptions options;
    RateLimit perAddress{20, 0.5};  // a pupil saves once a game; 20 at once, then one each 2 s
    RateLimit perClass{120, 10};    // a class of forty, all at once, three times over
    // A pupil's 初期化 blanks the whole class's lists: a lesson needs one now and then, and a
    // pupil pressing it again and again would wipe everyone's scores and fill the history.
    // Three at once, then one each 3 minutes (a few per 10 minutes).
    RateLimit perClassBlank{3, 1.0 / 180};
};

// The pupils' link of a class, and the teacher's.
std::string pupilsLink(const std::string& base, const std::string& classKey);
std::string teachersLink(const std::string& base, const std::string& teacherKey);

// Why a name cannot be saved, or nullptr when it can: control characters (as typedName takes
// them out), markup (a "<" opening a tag, an end tag, a comment or a declaration; a "<" or ">"
// alone is text), more than 10 characters, or more than its 10-byte Shift-JIS field holds
// (nameFits).
const char* nameProblem(std::u16string_view name);

// The change a pupil's save makes: the entry, with its client's id, put into the class's lists
// by the library's Save. name is the entry's name in UTF-8, as typed.
Change saveChange(const std::string& id, const results::NewEntry& entry, const std::string& name);

// An answer {"error": reason} with its status.
Response errorResponse(int status, std::string_view reason);

} // namespace server

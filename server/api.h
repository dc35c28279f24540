// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every request the server answers, as a plain function from a request to an answer, apart
// from the HTTP library (so that the fuzz target and the tests drive exactly what a client
// reaches). Paths are relative to the server's base, so that a reverse proxy can mount it
// under a sub-path:
//   /                      the site, with its lists on the device
//   /c/KEY/…               the same site for the class whose pupils' key is KEY
//   /t/KEY/…               the teacher's page of the class whose teacher's key is KEY
//   /api/v1/classes/KEY/…  the pupils' calls: the class, its tickets, entries, games and
//                          初期化, the class round (rounds.h), an event stream
//   /api/v1/teachers/KEY/… the teacher's: the class, its files, its event stream, the class
//                          round's board and start, its changes
// Each route of the last two, its method and what answers it, is a row of routes.h's table.
// Errors answer {"error": reason}: 400 malformed, 403 a teacher's POST from another site or a
// pupil's 初期化 the teacher turned off, 404 unknown (the same whatever the key), 405, 413 too
// large, 409 a class round's call out of turn (rounds.h), 422 a game that could not be checked
// (its ticket or its replay, see tickets.h), 429 too many, 503 database unavailable. Nothing is
// stored for a refused request. A request that earns several refusals gets the first of, in
// turn: a method other than GET, HEAD, POST (405); a path not from "/" (400); under /api/ a
// side no routes.h has (404), a key of no key's form (404); then on the pupils' side a path of
// no route (404), a route's path for another method (405), then for the class round's calls
// but its event stream a device id missing (400) and the device's round calls (429), for the
// others but the class's read the device's or address's saves (429), then 413, an unknown key
// (404) and each call's own; on the teacher's side a POST from another site (403), a POST past
// its address's limit (429), 413 (an import's limit on the import paths), an unknown key
// (404), a path of no route (404), another method's (405), then each call's own.
//
// Every entry and game carries its ticket and its log; the server replays the log from the
// ticket's seed and stores the replay's score, never the pupil's word.
//
// Limits. A classroom's forty pupils often reach the server through one address (the school's
// NAT, a filtering proxy), so a pupil is counted by the device it saves from (X-Nubora-Device;
// a request without a valid device id counts as the device "its address"), and the class by
// itself; an address alone only has a flood cap. A pupil saves once a game, and a game of five
// questions takes a few seconds at the very fastest: a device may send 10 at once (a queue
// kept while offline) and then one each 3 s. A class of forty saving at the end of the same
// game sends 40 at once: a class may send 120 at once, then 10 a second. An address may send
// 400 at once, then 10 a second: ten classes of forty behind one school address ending a game
// together, or six hundred pupils each saving once a minute. A device refused its share takes
// nothing of its address's. The 404s for unknown keys count against the address (guessing).
// A class round's calls (its reads, joins and answers: a join measured a few times, five
// answers, a reload) take from a bucket of their own per device, 30 at once then 2 a second,
// and from one of their class's, not from the address's: a round brings every device of the
// class at once (forty joining in its first seconds make about 360 calls, ten classes behind
// one address ten times that), and a class takes 600 at once, then 60 a second, wherever its
// devices are.
#include "server/rate_limit.h"
#include "server/routes.h"
#include "server/store.h"
#include "server/tickets.h"

#include "rules/question.h"
#include "rules/ranking.h"

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

struct Request {
    std::string method; // GET, HEAD or POST
    std::string path;   // below the base, from "/", without the query
    std::string body;
    std::string client;    // the client's address
    std::string device;    // X-Nubora-Device: the id a device drew when it first opened the class link
    std::string origin;    // Origin, as the browser sent it; empty when none was sent
    std::string host;      // Host
    std::string fetchSite; // Sec-Fetch-Site, as the browser sent it
    // When the whole request had come (ms since 1970 on the server's clock), stamped by the HTTP
    // layer before it waits for a handler; 0: not known (the handler's moment is taken). A class
    // round's answer is timed by it, so that forty answers queued behind one another's commits
    // are each taken as received.
    std::int64_t receivedAt = 0;
};

struct Response {
    int status = 200;
    std::string type; // Content-Type
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // The id of the class whose event stream this answer opens (HttpServer keeps it open and
    // sends the class's changes, http_server.h); 0 for an answer of its own.
    std::int64_t stream = 0;
    bool pupilsStream = false; // the stream is the pupils' (rounds started), not the teacher's
};

struct ApiOptions {
    std::string siteDir;    // the built site; empty or missing serves no files
    std::string base;       // the server's address as pupils reach it, ending in "/"
    bool rateLimits = true; // off only for benchmarks
    bool replay = true;     // off only for benchmarks: entries and their games stored as sent, unchecked
    // The server's clock for the class rounds, ms since 1970; none: the system's.
    std::function<std::int64_t()> clock;
};

inline constexpr std::size_t pupilBodyLimit = 512; // a save or a 初期化
inline constexpr std::size_t importLimit = 65536;  // what an import may send; a tavon.rnk is 900 bytes
inline constexpr int maxScore = question::questionsPerGame * question::fullPoints;

class Api {
public:
    Api(Store& store, ApiOptions options);
    Response handle(const Request& request);

private:
    Response route(const Request& request);
    // The calls of each side (routes.h), `match` what findRoute made of the request's path.
    Response pupils(const Request& request, std::string_view key, const RouteMatch& match);
    Response teachers(const Request& request, std::string_view key, const RouteMatch& match);
    Response siteFile(std::string_view path) const;
    bool limited(const std::string& name, RateLimit& buckets);
    // Takes a token of the request's device, then (when the device had one) of its address:
    // whether either was empty.
    bool flooding(const Request& request);
    // Whether a browser sent the request from this server's own pages: no Origin (a script
    // with the key), or the origin of the Host it asked for or of options.base; and a
    // Sec-Fetch-Site, when sent, of same-origin or none.
    bool fromOwnPages(const Request& request) const;

    // The class round's calls (rounds.cpp): the pupils' (roundRead, roundJoin, roundAnswers,
    // pupilsEvents, each asked for by its own method), a round's entry, and the teacher's
    // board and start.
    Response pupilsRound(const Request& request, std::string_view key, Handler handler);
    Response roundEntry(const Request& request, const ClassInfo& known, const JsonObject& body);
    Response teachersRound(const Request& request, const ClassInfo& known);
    std::int64_t now() const; // the rounds' clock

    // The game a pupil's POST carries, as a change (422 when it cannot be checked).
    std::variant<GameRow, Response> game(const ClassInfo& known, const JsonObject& body, std::optional<int> score,
                                         std::optional<int> range);

    Store& store;
    ApiOptions options;
    std::optional<TicketDesk> desk;   // none while the data's secret can be neither read nor made
    RateLimit perDevice{10, 1.0 / 3}; // the limits above
    RateLimit perAddress{400, 10};
    RateLimit perClass{120, 10};
    RateLimit perRoundDevice{30, 2};
    RateLimit perRoundClass{600, 60};
    // A pupil's 初期化 blanks the whole class's lists: a lesson needs one now and then, and a
    // pupil pressing it again and again would wipe everyone's scores and fill the history.
    // Three at once, then one each 3 minutes (a few per 10 minutes).
    RateLimit perClassBlank{3, 1.0 / 180};
};

// The pupils' link of a class, and the teacher's.
std::string pupilsLink(const std::string& base, const std::string& classKey);
std::string teachersLink(const std::string& base, const std::string& teacherKey);

// Whether `id` is a client's id (an entry's, a 初期化's, a device's): 8 to 64 of [A-Za-z0-9_-].
bool isClientId(const std::string& id);

// An entry's range, score and name as a save sends them, checked as every save is (400 with
// why, in that order); name in UTF-8 as typed, and as the name box holds it.
struct EntryFields {
    std::int16_t range = 0;
    std::int16_t score = 0;
    std::string name;
    std::u16string typed;
};
std::variant<EntryFields, Response> entryFields(const JsonObject& body);

// Why a name cannot be saved, or nullptr when it can: the name box's rule (results::nameFault),
// so that whatever the box lets a pupil type is saved. Markup is text: every page shows names
// as text, and the CSV keeps a name from reading as a formula.
const char* nameProblem(std::u16string_view name);

// The change a pupil's save makes: the entry, with its client's id, put into the class's lists
// by the library's Save. name is the entry's name in UTF-8, as typed.
Change saveChange(const std::string& id, const results::NewEntry& entry, const std::string& name);

// An answer {"error": reason} with its status.
Response errorResponse(int status, std::string_view reason);

} // namespace server

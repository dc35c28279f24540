// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The API's routes, in one table: the only place their paths are written. A route belongs to
// a side, the pupils' (below /api/v1/classes/KEY, KEY a class's pupils' key) or the teacher's
// (below /api/v1/teachers/KEY), and has a method (GET, which HEAD takes too, or POST), a path
// below the key ("" for the key itself, with nothing after it; no route has a trailing
// slash), and the handler that answers it (Api::pupils, Api::teachers: api.h). The API
// answers nothing else under those two prefixes.
//
// Which route a request names is findRoute's to say, and nothing else compares a path below
// the key; each side decides when a path that names no route (404) or only routes of other
// methods (405) is refused, among its other checks (api.cpp, teacher.cpp, rounds.cpp).
//
// New routes go at the end of the table: the fuzz target's seeds (fuzz/server_corpus) name a
// route by its place in it.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace server {

enum class Side { pupils, teachers };
enum class Method { get, post };

enum class Handler {
    // The pupils' side.
    classRead,    // the class's name and its lists' image
    tickets,      // a stock of tickets (tickets.h)
    entries,      // an entry and its game, or a class round's entry
    games,        // a game that entered no list
    blank,        // a pupil's 初期化 of the class's lists
    roundRead,    // the class round (rounds.h): the latest, and this device's part of it
    roundJoin,    // a device joins it
    roundAnswers, // a device's answer
    pupilsEvents, // an event stream: "round" when a round starts
    // The teacher's side.
    teacherView,   // everything of the class, with what it gets wrong (mistakes.h)
    entriesCsv,    // the entries as CSV
    mistakesCsv,   // what the class gets wrong, as CSV
    tavonRnk,      // the class's ranking file
    qrSvg,         // the pupils' link as a QR code
    teacherEvents, // an event stream: "change" each time the class changes, "round" when a
                   // round starts, a device joins it or answers
    roundBoard,    // the class round's board
    roundStart,    // a new class round
    restore,       // the lists as a point of their history had them
    import,        // a ranking file as the class's lists
    importCheck,   // what the import would load, stored nowhere
    remove,        // an entry taken out of the lists
    reinstate,     // a removed entry put back
    settings,      // whether pupils may 初期化 the lists
};

struct Route {
    Side side;
    Method method;
    std::string_view path; // below the key, without its slash; "" for the key itself
    Handler handler;
};

inline constexpr std::array routes{
    Route{Side::pupils, Method::get, "", Handler::classRead},
    Route{Side::pupils, Method::post, "tickets", Handler::tickets},
    Route{Side::pupils, Method::post, "entries", Handler::entries},
    Route{Side::pupils, Method::post, "games", Handler::games},
    Route{Side::pupils, Method::post, "blank", Handler::blank},
    Route{Side::pupils, Method::get, "round", Handler::roundRead},
    Route{Side::pupils, Method::post, "round/join", Handler::roundJoin},
    Route{Side::pupils, Method::post, "round/answers", Handler::roundAnswers},
    Route{Side::pupils, Method::get, "events", Handler::pupilsEvents},
    Route{Side::teachers, Method::get, "", Handler::teacherView},
    Route{Side::teachers, Method::get, "entries.csv", Handler::entriesCsv},
    Route{Side::teachers, Method::get, "mistakes.csv", Handler::mistakesCsv},
    Route{Side::teachers, Method::get, "tavon.rnk", Handler::tavonRnk},
    Route{Side::teachers, Method::get, "qr.svg", Handler::qrSvg},
    Route{Side::teachers, Method::get, "events", Handler::teacherEvents},
    Route{Side::teachers, Method::get, "round", Handler::roundBoard},
    Route{Side::teachers, Method::post, "round", Handler::roundStart},
    Route{Side::teachers, Method::post, "restore", Handler::restore},
    Route{Side::teachers, Method::post, "import", Handler::import},
    Route{Side::teachers, Method::post, "import/check", Handler::importCheck},
    Route{Side::teachers, Method::post, "remove", Handler::remove},
    Route{Side::teachers, Method::post, "reinstate", Handler::reinstate},
    Route{Side::teachers, Method::post, "settings", Handler::settings},
};

// What comes before a side's keys, from the server's base.
constexpr std::string_view sidePrefix(Side side)
{
    return side == Side::pupils ? "/api/v1/classes/" : "/api/v1/teachers/";
}

// The side whose prefix is "/api/" version "/" kind "/"; none when no side's is.
std::optional<Side> sideNamed(std::string_view version, std::string_view kind);

// The path of a route for `key`, from the server's base: its side's prefix and the key, then
// "/" and the route's path unless it is "".
std::string routePath(const Route& route, std::string_view key);

struct RouteMatch {
    int status = 0;         // 0: the request names `route`; 404: no route of the side has that
                            // path; 405: only routes of other methods have it
    std::string_view error; // the 404's "not found" or the 405's "method not allowed"
    // The route named (status 0), or one of its path's (405); none for a 404.
    const Route* route = nullptr;

    // Whether `route` (named, or of the path for a 405) is h's.
    bool is(Handler h) const { return route && route->handler == h; }
};

// The route of `side` that a request of `method` names with `rest`, what follows the key and
// its slash (none when no slash follows the key; "" after a trailing slash names no route).
// GET and HEAD name GET routes, POST the POST routes, any other method none.
RouteMatch findRoute(Side side, std::string_view method, std::optional<std::string_view> rest);

} // namespace server

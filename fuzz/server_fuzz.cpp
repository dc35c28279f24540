// SPDX-License-Identifier: GPL-3.0-or-later
// Any request to the class server's handler (server/api.h), over a real SQLite store in a
// temporary folder with one class. An input whose first byte is below 0x80 names a free
// path: that byte picks the method, its first line is the path ({c} and {t} stand for the
// class's pupils' and teacher's keys), the rest is the body. One whose first byte is 0x80 or
// above names the route routes[byte % count] of routes.h, with its method and the class's
// key, from a device of its own; the rest is the body. So every route is reached whatever the
// fuzzer finds. In a body, {ticket} stands for a ticket of the class, new for each input.
// Whatever the bytes, the handler must answer with one of its statuses (403 once an input
// turned pupils' 初期化 off, 409 for a class round's call out of turn; never 500, never a
// crash; rate limits are off), answer JSON where it says JSON, and store nothing for a
// refused request: after any answer other than 200 the class's image, entries, history and
// games are as they were. A route of the table sent with no body is never refused as a path
// of no route (404) or for its method (405): every call refuses an empty body otherwise.
#include "fuzz/ranking_fuzz.h" // FUZZ_CHECK
#include "server/api.h"
#include "server/encoding.h"
#include "server/routes.h"
#include "server/tickets.h"

#include <ctime>

#include <cstdlib>
#include <filesystem>
#include <set>

namespace {

struct World {
    // The temporary folder, removed at exit after the store (declared first, so gone last).
    struct Folder {
        char path[40] = "/tmp/nubora1-server-fuzz-XXXXXX";
        ~Folder() { std::filesystem::remove_all(path); }
    } folder;
    std::unique_ptr<server::Store> store;
    server::ClassInfo c;
    std::unique_ptr<server::Api> api;

    World()
    {
        if (!::mkdtemp(folder.path))
            std::abort();
        store = server::openSqliteStore(folder.path);
        c = {0, "３年２組", server::newKey(), server::newKey(), {}};
        store->addClass(c);
        c = *store->findClass(c.classKey, false);
        api = std::make_unique<server::Api>(*store, server::ApiOptions{{}, "http://school.test/", false});
    }
};

std::string replaced(std::string text, const std::string& token, const std::string& with)
{
    for (std::size_t at = 0; (at = text.find(token, at)) != std::string::npos; at += with.size())
        text.replace(at, token.size(), with);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static World world;
    if (size == 0)
        return 0;
    static const char* const methods[] = {"GET", "POST", "HEAD", "PUT"};
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const server::Route* route = data[0] >= 0x80 ? &server::routes[data[0] % server::routes.size()] : nullptr;
    server::Request request{"", "", input, "10.0.0.1"};
    if (route) {
        request.method = route->method == server::Method::post ? "POST" : "GET";
        request.path = server::routePath(*route, route->side == server::Side::pupils ? "{c}" : "{t}");
        request.device = "fuzz-device-1";
    } else {
        const std::size_t line = std::min(input.find('\n'), input.size());
        request.method = methods[data[0] % 4];
        request.path = input.substr(0, line);
        request.body = line < input.size() ? input.substr(line + 1) : "";
    }
    request.path = replaced(replaced(request.path, "{c}", world.c.classKey), "{t}", world.c.teacherKey);
    static const server::TicketDesk desk(server::ticketSecret(*world.store));
    request.body = replaced(request.body, "{ticket}", desk.issue(world.c.id, std::time(nullptr)));

    const std::string imageBefore = world.store->findClass(world.c.classKey, false)->image;
    const std::size_t entriesBefore = world.store->entries(world.c.id).size();
    const std::size_t historyBefore = world.store->history(world.c.id).size();
    const std::size_t gamesBefore = world.store->games(world.c.id, "").size();

    const server::Response r = world.api->handle(request);

    static const std::set<int> statuses{200, 301, 400, 403, 404, 405, 409, 413, 422};
    FUZZ_CHECK(statuses.count(r.status));
    if (route && request.body.empty())
        FUZZ_CHECK(r.status != 404 && r.status != 405);
    if (r.type == "application/json" && request.method != "HEAD")
        FUZZ_CHECK(!r.body.empty() && r.body.front() == '{' && r.body.back() == '}');
    if (r.status != 200) {
        FUZZ_CHECK(world.store->findClass(world.c.classKey, false)->image == imageBefore);
        FUZZ_CHECK(world.store->entries(world.c.id).size() == entriesBefore);
        FUZZ_CHECK(world.store->history(world.c.id).size() == historyBefore);
        FUZZ_CHECK(world.store->games(world.c.id, "").size() == gamesBefore);
    }
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The class server under a class of forty saving at once, each figure beside its floor in the
// same run (bench/server.sh starts the servers, the PostgreSQL cluster and nginx it is given):
//  saves:  40 clients, each on one keep-alive connection, POST entries with ids of their own,
//          ranges 0-3 and scores 0-50, each with a ticket of the class and its game's log (the
//          client issues the tickets with the data's secret, as the server would), to the server
//          on SQLite and on PostgreSQL; and on SQLite the same entries and games to a server
//          that stores them as sent, without replaying them (--no-replay): the replay's cost;
//  bare:   the same saves from 40 threads straight into the server's store layer on the same
//          database (the class looked up by its key, then the save's transaction), no HTTP;
//  reads:  40 clients GET api/v1/classes/KEY, beside nginx serving the class's 900 bytes as a
//          static file;
//  hostile devices: the saves and reads again while one device holds 1,000 connections that
//          send a header byte every half second and another floods header lines;
//  pages:  forty browsers from one address open the class link at once, 4 connections each,
//          and fetch the page and its files (--site); the time until all forty had them;
//  idle:   10,000 connections that send nothing; the server's memory while they are open.
// Each figure is measured for --seconds (3) in each of --rounds (5); the table gives the medians.
// --rows "SQLite,reads" measures only the rows whose names contain one of those words (the page
// loads and idle connections only when named: "pages", "idle"), to compare one part before and
// after a change on a busy machine; the goals are then checked on what was measured.
#include "server/api.h"
#include "server/store.h"
#include "server/tickets.h"

#include "support/played_game.h"

#include "server_bench_http.h"

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <latch>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace {

using bench::Connection;
using Clock = std::chrono::steady_clock;
constexpr int clients = 40;

struct Figures {
    double perSecond = 0, p50 = 0, p99 = 0; // p50 and p99 in milliseconds
    long failed = 0;
};

// One client's calls: true when the call was answered as it should be.
using Call = std::function<bool()>;

// Runs `clients` threads, each making one call after another with its own Call (made on the
// thread by makeCall) for `seconds`, all starting together.
Figures load(const std::function<Call(int client)>& makeCall, double seconds)
{
    std::vector<std::vector<double>> times(clients);
    std::atomic<long> failed{0};
    std::latch ready(clients + 1);
    std::atomic<bool> go{false};
    Clock::time_point start, end;
    std::vector<Clock::time_point> finished(clients);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&, c] {
            Call call = makeCall(c);
            ready.count_down();
            while (!go.load())
                std::this_thread::yield();
            for (;;) {
                const Clock::time_point t0 = Clock::now();
                if (t0 >= end)
                    break;
                const bool ok = call();
                const Clock::time_point t1 = Clock::now();
                times[c].push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
                if (!ok)
                    ++failed;
                finished[c] = t1;
            }
        });
    ready.arrive_and_wait();
    start = Clock::now();
    end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    go = true;
    for (std::thread& t : threads)
        t.join();
    std::vector<double> all;
    for (const auto& t : times)
        all.insert(all.end(), t.begin(), t.end());
    std::sort(all.begin(), all.end());
    const Clock::time_point last = *std::max_element(finished.begin(), finished.end());
    Figures f;
    f.failed = failed;
    if (!all.empty()) {
        f.perSecond = double(all.size() - std::size_t(failed)) / std::chrono::duration<double>(last - start).count();
        f.p50 = all[all.size() / 2];
        f.p99 = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    }
    return f;
}

// Entries no save of this run has used: ids, ranges 0-3 and scores 0-50.
std::atomic<long> nextEntry{0};
struct Entry {
    std::string id;
    int range, score;
};
Entry newEntry()
{
    const long n = nextEntry++;
    return {"bench" + std::to_string(1000000 + n), int(n % 4), int(n * 7 % 51)};
}

// The games of the entries to come, made before a round (a ticket issued and a game's log for
// each), so that the clients' own work is the same with games and without: entry n's is
// games[n - first].
struct Games {
    long first = 0;
    std::vector<std::string> games; // ,"ticket":"…","log":"…"
};
Games games;
const std::string nameUtf8 = "ぬぼら";
const std::u16string name16 = u"ぬぼら";

// Where the entries' games come from: the data's ticket secret and the class's number.
struct Tickets {
    const server::TicketDesk* desk = nullptr; // none: entries are sent without their games
    std::int64_t classId = 0;
};

std::string gameOf(const Tickets& tickets, const Entry& e)
{
    const std::string t = tickets.desk->issue(tickets.classId, std::time(nullptr));
    return R"(,"ticket":")" + t + R"(","log":")" + playedgame::logScoring(ticket::parse(t)->seed, e.range, e.score)
           + "\"";
}

// Makes the games of the next `count` entries.
void prepareGames(const Tickets& tickets, long count)
{
    games.first = nextEntry;
    games.games.clear();
    for (long n = games.first; n < games.first + count; ++n)
        games.games.push_back(gameOf(tickets, {{}, int(n % 4), int(n * 7 % 51)}));
}

Call httpSave(int port, const std::string& key, Tickets tickets = {})
{
    auto connection = std::make_shared<Connection>(port);
    const std::string head = "POST /api/v1/classes/" + key
                             + "/entries HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                               "Content-Type: application/json\r\nContent-Length: ";
    return [connection, head, tickets] {
        const Entry e = newEntry();
        const long n = std::stol(e.id.substr(5)) - 1000000;
        std::string game;
        if (tickets.desk && n >= games.first && n < games.first + long(games.games.size()))
            game = games.games[std::size_t(n - games.first)];
        else if (tickets.desk)
            game = gameOf(tickets, e);
        const std::string body = R"({"id":")" + e.id + R"(","range":)" + std::to_string(e.range) + R"(,"score":)"
                                 + std::to_string(e.score) + R"(,"name":")" + nameUtf8 + "\"" + game + "}";
        std::string answer;
        const int status = connection->exchange(head + std::to_string(body.size()) + "\r\n\r\n" + body, answer);
        return status == 200 && answer.find("\"saved\":true") != std::string::npos;
    };
}

// What the server does with the database for a save, without HTTP: the class by its key, then
// the save's change.
Call bareSave(server::Store& store, const std::string& key)
{
    return [&store, key] {
        try {
            const Entry e = newEntry();
            const std::optional<server::ClassInfo> c = store.findClass(key, false);
            if (!c)
                return false;
            const server::Change change =
                server::saveChange(e.id, {std::int16_t(e.range), std::int16_t(e.score), name16}, nameUtf8);
            return store.change(c->id, change, server::timeNow()).applied;
        } catch (const std::exception&) {
            return false;
        }
    };
}

Call httpGet(int port, const std::string& path, std::size_t least)
{
    auto connection = std::make_shared<Connection>(port);
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    return [connection, request, least] {
        std::string answer;
        return connection->exchange(request, answer) == 200 && answer.size() >= least;
    };
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double loadAverage()
{
    std::ifstream in("/proc/loadavg");
    double one = 0;
    in >> one;
    return one;
}

std::string arg(const std::map<std::string, std::string>& args, const std::string& name)
{
    const auto at = args.find(name);
    if (at == args.end())
        throw std::invalid_argument("--" + name + " is needed");
    return at->second;
}

} // namespace

int main(int argc, char** argv)
{
    rlimit open{}; // the idle connections' sockets
    if (::getrlimit(RLIMIT_NOFILE, &open) == 0) {
        open.rlim_cur = open.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &open);
    }
    std::map<std::string, std::string> args;
    for (int i = 1; i + 1 < argc; i += 2)
        args[std::string(argv[i]).substr(2)] = argv[i + 1];
    const int rounds = std::stoi(args.count("rounds") ? args["rounds"] : "5");
    const double seconds = std::stod(args.count("seconds") ? args["seconds"] : "3");
    const int sqlitePort = std::stoi(arg(args, "sqlite-port")), pgPort = std::stoi(arg(args, "pg-port"));
    const int nginxPort = std::stoi(arg(args, "nginx-port"));
    const long sqlitePid = std::stol(arg(args, "sqlite-pid"));
    std::vector<std::string> files = {"/api/v1/classes/" + arg(args, "sqlite-key")};
    for (const auto& file : std::filesystem::directory_iterator(arg(args, "site")))
        if (file.is_regular_file() && file.path().filename() != "index.html")
            files.push_back("/c/" + arg(args, "sqlite-key") + "/" + file.path().filename().string());
    const std::string sqliteKey = arg(args, "sqlite-key"), pgKey = arg(args, "pg-key");
    const std::unique_ptr<server::Store> sqlite = server::openSqliteStore(arg(args, "sqlite-data"));
    const std::unique_ptr<server::Store> pg = server::openPostgresStore(arg(args, "pg"));
    const int plainPort = std::stoi(arg(args, "sqlite-plain-port"));
    const server::TicketDesk sqliteDesk(server::ticketSecret(*sqlite)), pgDesk(server::ticketSecret(*pg));
    const Tickets sqliteTickets{&sqliteDesk, sqlite->findClass(sqliteKey, false).value().id};
    const Tickets pgTickets{&pgDesk, pg->findClass(pgKey, false).value().id};

    // Each row: its name and what one round measures.
    struct Row {
        const char* name;
        std::function<Figures()> measure;
        std::vector<Figures> rounds;
    };
    std::vector<Row> rows = {
        {"SQLite: server",
         [&] {
             prepareGames(sqliteTickets, long(30000 * seconds));
             return load([&](int) { return httpSave(sqlitePort, sqliteKey, sqliteTickets); }, seconds);
         },
         {}},
        {"SQLite: server, games not replayed",
         [&] {
             prepareGames(sqliteTickets, long(30000 * seconds));
             return load([&](int) { return httpSave(plainPort, sqliteKey, sqliteTickets); }, seconds);
         },
         {}},
        {"SQLite: bare store", [&] { return load([&](int) { return bareSave(*sqlite, sqliteKey); }, seconds); }, {}},
        {"PostgreSQL: server",
         [&] {
             prepareGames(pgTickets, long(10000 * seconds));
             return load([&](int) { return httpSave(pgPort, pgKey, pgTickets); }, seconds);
         },
         {}},
        {"PostgreSQL: bare store", [&] { return load([&](int) { return bareSave(*pg, pgKey); }, seconds); }, {}},
        {"reads: server",
         [&] { return load([&](int) { return httpGet(sqlitePort, "/api/v1/classes/" + sqliteKey, 1200); }, seconds); },
         {}},
        {"reads: nginx", [&] { return load([&](int) { return httpGet(nginxPort, "/tavon.rnk", 900); }, seconds); }, {}},
        {"SQLite: server, hostile",
         [&] {
             prepareGames(sqliteTickets, long(30000 * seconds));
             bench::HostileDevices hostile(sqlitePort, 1000);
             const Figures f = load([&](int) { return httpSave(sqlitePort, sqliteKey, sqliteTickets); }, seconds);
             std::fprintf(stderr, "        header floods cut off: %ld, read to their end: %ld\n", hostile.cutOff(),
                          hostile.notCutOff());
             return f;
         },
         {}},
        {"reads: server, hostile",
         [&] {
             bench::HostileDevices hostile(sqlitePort, 1000);
             return load([&](int) { return httpGet(sqlitePort, "/api/v1/classes/" + sqliteKey, 1200); }, seconds);
         },
         {}},
    };
    const std::string only = args.count("rows") ? args["rows"] : "";
    const auto chosen = [&](std::string_view name) {
        if (only.empty())
            return true;
        for (std::size_t at = 0; at <= only.size();) {
            const std::size_t comma = std::min(only.find(',', at), only.size());
            const std::string word = only.substr(at, comma - at);
            if (!word.empty() && name.find(word) != std::string_view::npos)
                return true;
            at = comma + 1;
        }
        return false;
    };
    std::erase_if(rows, [&](const Row& row) { return !chosen(row.name); });
    // nginx serves the class's image as the server holds it after its first saves: 900 bytes.
    load([&](int) { return httpSave(sqlitePort, sqliteKey, sqliteTickets); }, 0.5);
    const std::optional<server::ClassInfo> image = sqlite->findClass(sqliteKey, false);
    if (!image || image->image.size() != 900) {
        std::cerr << "server_bench: the class's image is not 900 bytes after its first saves\n";
        return 1;
    }
    std::ofstream(arg(args, "nginx-root") + "/tavon.rnk", std::ios::binary) << image->image;

    std::vector<double> loads{loadAverage()}, pageSeconds;
    for (int r = 1; r <= rounds; ++r) {
        if (chosen("pages")) {
            pageSeconds.push_back(bench::pageLoads(sqlitePort, "/c/" + sqliteKey + "/", files, clients, 4));
            std::fprintf(stderr, "round %d %-24s %8.2f s\n", r, "40 page loads", pageSeconds.back());
        }
        for (Row& row : rows) {
            row.rounds.push_back(row.measure());
            const Figures& f = row.rounds.back();
            std::fprintf(stderr, "round %d %-24s %8.0f/s p50 %6.1f ms p99 %6.1f ms failed %ld\n", r, row.name,
                         f.perSecond, f.p50, f.p99, f.failed);
        }
        loads.push_back(loadAverage());
    }

    std::printf("\nmedians of %d rounds of %.0f s, %d clients at once; load average (1 min) %.1f at the start, "
                "%.1f to %.1f over the rounds\n",
                rounds, seconds, clients, loads.front(), *std::min_element(loads.begin() + 1, loads.end()),
                *std::max_element(loads.begin() + 1, loads.end()));
    std::printf("%-24s %10s %9s %9s %8s\n", "", "per second", "p50 ms", "p99 ms", "failed");
    std::map<std::string, Figures> m;
    for (const Row& row : rows) {
        std::vector<double> rate, p50, p99;
        long failed = 0;
        for (const Figures& f : row.rounds)
            rate.push_back(f.perSecond), p50.push_back(f.p50), p99.push_back(f.p99), failed += f.failed;
        m[row.name] = {median(rate), median(p50), median(p99), failed};
        std::printf("%-24s %10.0f %9.1f %9.1f %8ld\n", row.name, m[row.name].perSecond, m[row.name].p50,
                    m[row.name].p99, failed);
    }
    const double pages = median(pageSeconds);
    const bench::IdleFigures idle =
        chosen("idle") ? bench::idleConnections(sqlitePort, sqlitePid, 10000) : bench::IdleFigures{};
    std::printf("40 page loads at once, 4 connections each: all had the page in %.2f s (median; a failed load "
                "counts -1)\n10,000 idle connections: the server held %ld of them open at %ld MB\n",
                pages, idle.open, idle.megabytes);
    const Figures& s = m["SQLite: server"];
    const auto goal = [](bool met) { return met ? "met" : "NOT MET"; };
    double worstP99 = 0;
    for (const char* row : {"SQLite: server", "reads: server", "SQLite: server, hostile", "reads: server, hostile"})
        worstP99 = std::max(worstP99, m[row].p99);
    std::printf("\ngoals: SQLite >= 4000 saves/s: %s (%.0f); >= 0.7 of the bare store's rate: %s (%.2f); p99 <= 50 ms "
                "for saves and reads, hostile devices or not: %s (%.1f); reads >= half nginx's: %s (%.2f); 40 pages "
                "<= 2 s: %s (%.2f); 10,000 idle <= 200 MB: %s (%ld)\n",
                goal(s.perSecond >= 4000), s.perSecond, goal(s.perSecond >= 0.7 * m["SQLite: bare store"].perSecond),
                s.perSecond / m["SQLite: bare store"].perSecond, goal(worstP99 <= 50), worstP99,
                goal(m["reads: server"].perSecond >= m["reads: nginx"].perSecond / 2),
                m["reads: server"].perSecond / m["reads: nginx"].perSecond, goal(pages >= 0 && pages <= 2), pages,
                goal(idle.megabytes <= 200), idle.megabytes);
    std::printf("PostgreSQL: %.2f of the bare store's rate\n",
                m["PostgreSQL: server"].perSecond / m["PostgreSQL: bare store"].perSecond);
    const double replayed = s.perSecond / m["SQLite: server, games not replayed"].perSecond;
    std::printf("the replay's cost: saves with their games checked >= 0.8 of those without: %s (%.2f)\n",
                goal(replayed >= 0.8), replayed);
    return 0;
}

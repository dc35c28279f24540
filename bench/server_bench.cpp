// SPDX-License-Identifier: GPL-3.0-or-later
// The class server under a class of forty saving at once, each figure beside its floor in the
// same run (bench/server.sh starts the servers, the PostgreSQL cluster and nginx it is given):
//  saves:  40 clients, each on one keep-alive connection, POST entries with ids of their own,
//          ranges 0-3 and scores 0-50, to the server on SQLite and on PostgreSQL;
//  bare:   the same saves from 40 threads straight into the server's store layer on the same
//          database (the class looked up by its key, then the save's transaction), no HTTP;
//  reads:  40 clients GET api/v1/classes/KEY, beside nginx serving the class's 900 bytes as a
//          static file.
// Each figure is measured for SECONDS in each of ROUNDS rounds; the table gives the medians.
#include "server/api.h"
#include "server/store.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <latch>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

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
const std::string nameUtf8 = "ぬぼら";
const std::u16string name16 = u"ぬぼら";

std::unique_ptr<httplib::Client> keepAlive(int port)
{
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true); // as browsers do
    client->set_connection_timeout(10);
    client->set_read_timeout(60);
    return client;
}

Call httpSave(int port, const std::string& key)
{
    std::shared_ptr<httplib::Client> client = keepAlive(port);
    const std::string path = "/api/v1/classes/" + key + "/entries";
    return [client, path] {
        const Entry e = newEntry();
        const std::string body = R"({"id":")" + e.id + R"(","range":)" + std::to_string(e.range) + R"(,"score":)"
                                 + std::to_string(e.score) + R"(,"name":")" + nameUtf8 + R"("})";
        const httplib::Result r = client->Post(path.c_str(), body, "application/json");
        return r && r->status == 200 && r->body.find("\"saved\":true") != std::string::npos;
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
    std::shared_ptr<httplib::Client> client = keepAlive(port);
    return [client, path, least] {
        const httplib::Result r = client->Get(path.c_str());
        return r && r->status == 200 && r->body.size() >= least;
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
    std::map<std::string, std::string> args;
    for (int i = 1; i + 1 < argc; i += 2)
        args[std::string(argv[i]).substr(2)] = argv[i + 1];
    const int rounds = std::stoi(args.count("rounds") ? args["rounds"] : "5");
    const double seconds = std::stod(args.count("seconds") ? args["seconds"] : "3");
    const int sqlitePort = std::stoi(arg(args, "sqlite-port")), pgPort = std::stoi(arg(args, "pg-port"));
    const int nginxPort = std::stoi(arg(args, "nginx-port"));
    const std::string sqliteKey = arg(args, "sqlite-key"), pgKey = arg(args, "pg-key");
    const std::unique_ptr<server::Store> sqlite = server::openSqliteStore(arg(args, "sqlite-data"));
    const std::unique_ptr<server::Store> pg = server::openPostgresStore(arg(args, "pg"));

    // Each row: its name and what one round measures.
    struct Row {
        const char* name;
        std::function<Figures()> measure;
        std::vector<Figures> rounds;
    };
    std::vector<Row> rows = {
        {"SQLite: server", [&] { return load([&](int) { return httpSave(sqlitePort, sqliteKey); }, seconds); }, {}},
        {"SQLite: bare store", [&] { return load([&](int) { return bareSave(*sqlite, sqliteKey); }, seconds); }, {}},
        {"PostgreSQL: server", [&] { return load([&](int) { return httpSave(pgPort, pgKey); }, seconds); }, {}},
        {"PostgreSQL: bare store", [&] { return load([&](int) { return bareSave(*pg, pgKey); }, seconds); }, {}},
        {"reads: server",
         [&] { return load([&](int) { return httpGet(sqlitePort, "/api/v1/classes/" + sqliteKey, 1200); }, seconds); },
         {}},
        {"reads: nginx", [&] { return load([&](int) { return httpGet(nginxPort, "/tavon.rnk", 900); }, seconds); }, {}},
    };
    // nginx serves the class's image as the server holds it after its first saves: 900 bytes.
    load([&](int) { return httpSave(sqlitePort, sqliteKey); }, 0.5);
    const std::optional<server::ClassInfo> image = sqlite->findClass(sqliteKey, false);
    if (!image || image->image.size() != 900) {
        std::cerr << "server_bench: the class's image is not 900 bytes after its first saves\n";
        return 1;
    }
    std::ofstream(arg(args, "nginx-root") + "/tavon.rnk", std::ios::binary) << image->image;

    std::vector<double> loads{loadAverage()};
    for (int r = 1; r <= rounds; ++r) {
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
    const Figures& s = m["SQLite: server"];
    const auto goal = [](bool met) { return met ? "met" : "NOT MET"; };
    std::printf(
        "\ngoals: SQLite >= 1000 saves/s: %s (%.0f); p99 <= 50 ms: %s (%.1f); >= half the bare store's rate: %s "
        "(%.2f); reads >= half nginx's: %s (%.2f)\n",
        goal(s.perSecond >= 1000), s.perSecond, goal(s.p99 <= 50), s.p99,
        goal(s.perSecond >= m["SQLite: bare store"].perSecond / 2), s.perSecond / m["SQLite: bare store"].perSecond,
        goal(m["reads: server"].perSecond >= m["reads: nginx"].perSecond / 2),
        m["reads: server"].perSecond / m["reads: nginx"].perSecond);
    std::printf("PostgreSQL: %.2f of the bare store's rate\n",
                m["PostgreSQL: server"].perSecond / m["PostgreSQL: bare store"].perSecond);
    return 0;
}

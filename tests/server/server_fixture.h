// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the class server's tests share besides the server itself (support/class_server.h): a
// PostgreSQL cluster of its own in a temporary folder, run as a plain user (nobody, when the
// test runs as root), an HTTP client whose requests can say which pupil's address and device
// they come from, connections of the test's own (raw bytes, event streams), and what the tests
// read of a class: its teacher's view, its ranking file.
#include "support/class_server.h"
#include "support/played_game.h"
#include "support/ranking_bytes.h"

#include "rules/ticket.h"

#include <QDir>
#include <QTest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <httplib.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace serverfixture {

struct Answer {
    int status = 0; // 0: no answer at all
    std::string body;
    httplib::Headers headers;
};

// One request on a connection of its own, with `headers` besides the client's own (Host among
// them); `from` is sent as X-Forwarded-For, which the server takes from a loopback peer. No
// answer within readTimeout seconds is none (status 0).
inline Answer request(int port, const std::string& method, const std::string& path, const std::string& body = {},
                      const std::string& from = {}, httplib::Headers headers = {}, int readTimeout = 60)
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(10);
    client.set_read_timeout(readTimeout);
    if (!from.empty())
        headers.emplace("X-Forwarded-For", from);
    const httplib::Result r =
        method == "GET" ? client.Get(path, headers) : client.Post(path, headers, body, "application/json");
    return r ? Answer{r->status, r->body, r->headers} : Answer{0, httplib::to_string(r.error()), {}};
}

// A ticket of the class, from a stock fetched as a device fetches one, each stock by a device
// and an address of its own (so that it takes nothing of the limits of the tests' senders);
// empty when the server gave none (its answer then in `failed`, where given).
inline std::string ticketOf(int port, const ClassKeys& keys, Answer* failed = nullptr)
{
    static std::mutex mutex;
    static std::map<std::pair<int, std::string>, std::vector<std::string>> stocks;
    static int fetched = 0;
    std::lock_guard lock(mutex);
    std::vector<std::string>& stock = stocks[{port, keys.pupils}];
    if (stock.empty()) {
        const std::string n = std::to_string(++fetched);
        const Answer a = request(port, "POST", "/api/v1/classes/" + keys.pupils + "/tickets", {},
                                 "10.250." + std::to_string(fetched / 200) + "." + std::to_string(fetched % 200),
                                 {{"X-Nubora-Device", "ticketsForTests" + n}});
        for (const QJsonValue t : QJsonDocument::fromJson(QByteArray::fromStdString(a.body))["tickets"].toArray())
            stock.push_back(t.toString().toStdString());
        if (failed)
            *failed = a;
    }
    if (stock.empty())
        return {};
    std::string t = stock.back();
    stock.pop_back();
    return t;
}

// The body of an entry played fair: a ticket of the class and the log of a game on it that
// scores `score` in `range`.
inline std::string entryBody(int port, const ClassKeys& keys, const std::string& id, int range, int score,
                             const std::string& name, std::string ticket = {})
{
    if (ticket.empty())
        ticket = ticketOf(port, keys);
    const std::optional<ticket::Ticket> t = ticket::parse(ticket);
    const std::string log = playedgame::logScoring(t ? t->seed : 0, std::clamp(range, 0, 3), score);
    return R"({"id":")" + id + R"(","range":)" + std::to_string(range) + R"(,"score":)" + std::to_string(score)
           + R"(,"name":")" + name + R"(","ticket":")" + ticket + R"(","log":")" + log + R"("})";
}

// A pupil's save into the class, sent as from the address `from` and, when given, the device
// `device`; where the server gave no ticket (its database down), its answer to the tickets'
// request, as a device would meet it.
inline Answer save(int port, const ClassKeys& keys, const std::string& id, int range, int score,
                   const std::string& name, const std::string& from, const std::string& device = {},
                   int readTimeout = 60)
{
    Answer failed;
    const std::string ticket = ticketOf(port, keys, &failed);
    if (ticket.empty() && failed.status != 200)
        return failed;
    httplib::Headers headers;
    if (!device.empty())
        headers.emplace("X-Nubora-Device", device);
    return request(port, "POST", "/api/v1/classes/" + keys.pupils + "/entries",
                   entryBody(port, keys, id, range, score, name, ticket), from, headers, readTimeout);
}

// A file of `records` blank records (a name of spaces, score 0) with `changed` put in at `at`.
inline QByteArray rankingFile(int records, int at = 0, const QByteArray& changed = {})
{
    QByteArray bytes = rankingbytes::blankRecords(records);
    return bytes.replace(at, changed.size(), changed);
}

inline std::string header(const Answer& a, const std::string& name)
{
    const auto found = a.headers.find(name);
    return found == a.headers.end() ? std::string() : found->second;
}

inline QJsonObject json(const Answer& a)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(a.body)).object();
}

// Appends to `in` what the socket `fd` has, waiting for it until `end`: false when nothing came
// by then or the peer closed (then `closed` is set).
inline bool receiveBy(int fd, std::string& in, bool& closed, std::chrono::steady_clock::time_point end)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (fd < 0 || closed || left.count() <= 0 || ::poll(&p, 1, int(left.count())) != 1)
        return false;
    char chunk[4096];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    closed = n <= 0;
    if (n > 0)
        in.append(chunk, std::size_t(n));
    return n > 0;
}

// A connection of the test's own to the server, from a loopback address of its choice (the
// server counts connections per address), sending whatever bytes a row needs.
class RawConnection {
public:
    // receiveBuffer: the socket's SO_RCVBUF, when not 0 (a client that takes little at once).
    RawConnection(int port, const char* from, int receiveBuffer = 0)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &a.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close();
            return;
        }
        a.sin_port = htons(std::uint16_t(port));
        ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            close();
    }
    ~RawConnection() { close(); }
    bool connected() const { return fd >= 0; }
    bool send(std::string_view bytes)
    {
        return fd >= 0 && ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }

    // The answer that came within `within`: its status (0: none, or the connection closed
    // first) and body.
    Answer answer(std::chrono::milliseconds within)
    {
        const auto end = std::chrono::steady_clock::now() + within;
        std::string in;
        for (;;) {
            const std::size_t head = in.find("\r\n\r\n");
            if (head != std::string::npos) {
                const std::size_t length = in.find("Content-Length: ");
                const std::size_t size = length < head ? std::stoul(in.substr(length + 16)) : 0;
                if (in.size() >= head + 4 + size)
                    return {std::atoi(in.c_str() + 9), in.substr(head + 4, size)};
            }
            if (!receive(in, end))
                return {0, in};
        }
    }
    // Whether the server closed the connection within `within` (what it still sent is dropped).
    bool closedBy(std::chrono::milliseconds within)
    {
        const auto end = std::chrono::steady_clock::now() + within;
        std::string in;
        while (receive(in, end))
            in.clear();
        return closed;
    }

private:
    bool receive(std::string& in, std::chrono::steady_clock::time_point end) { return receiveBy(fd, in, closed, end); }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int fd = -1;
    bool closed = false;
};

struct Saved {
    int range, score;
    QString name;
};

// What the teacher's page holds: the image and the entries by id.
struct ClassState {
    QByteArray image;
    std::map<QString, Saved> entries;
    int history = 0;
};

inline ClassState teacherView(int port, const ClassKeys& keys)
{
    const QJsonObject o = json(request(port, "GET", "/api/v1/teachers/" + keys.teacher));
    ClassState s{QByteArray::fromBase64(o["image"].toString().toLatin1()), {}, int(o["history"].toArray().size())};
    for (const QJsonValue e : o["entries"].toArray())
        s.entries[e["id"].toString()] = {e["range"].toInt(), e["score"].toInt(), e["name"].toString()};
    return s;
}

// A class's event stream, read as it comes on a socket of its own: the teacher's page's
// (GET /api/v1/teachers/KEY/events) or, `pupils`, the pupils' (GET /api/v1/classes/KEY/events);
// the answer's header, then how many events of each name came.
class ChangeStream {
public:
    ChangeStream(int port, const ClassKeys& keys, bool pupils = false)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        const std::string get = "GET /api/v1/" + (pupils ? "classes/" + keys.pupils : "teachers/" + keys.teacher)
                                + "/events HTTP/1.1\r\nHost: a\r\n\r\n";
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
            || ::send(fd, get.data(), get.size(), MSG_NOSIGNAL) < 0)
            closed = true;
        // Open once its header and first line came.
        wait([&] { return in.find("\r\n\r\nretry:") != std::string::npos; }, std::chrono::seconds(10));
    }
    ~ChangeStream() { ::close(fd); }

    // The answer's header as it came ("" when none did).
    std::string header() const { return in.substr(0, in.find("\r\n\r\n")); }
    // Whether the count of "change" ("round", `name`) events reached `count` within `within`.
    bool changes(int count, std::chrono::milliseconds within) { return heard("change", count, within); }
    bool rounds(int count, std::chrono::milliseconds within) { return heard("round", count, within); }
    bool heard(const std::string& name, int count, std::chrono::milliseconds within)
    {
        return wait([&] { return events(name) >= count; }, within);
    }
    int events(const std::string& name = "change") const
    {
        const std::string line = "event: " + name + "\n";
        int n = 0;
        for (std::size_t at = in.find(line); at != std::string::npos; at = in.find(line, at + 1))
            ++n;
        return n;
    }
    bool closed = false; // by the server (or never opened)

private:
    template <typename Done>
    bool wait(Done done, std::chrono::milliseconds within)
    {
        const auto end = std::chrono::steady_clock::now() + within;
        while (!done())
            if (!receiveBy(fd, in, closed, end))
                return false;
        return true;
    }
    int fd = -1;
    std::string in;
};

// A PostgreSQL 15 cluster in a temporary folder, listening on a socket in that folder only.
class PostgresCluster {
public:
    bool start()
    {
        if (!dir.isValid())
            return false;
        if (::geteuid() == 0 && ::chown(QFile::encodeName(dir.path()).constData(), 65534, 65534) != 0)
            return false;
        if (!QFile::exists(dir.filePath("data"))
            && !run("initdb", {"-D", dir.filePath("data"), "-A", "trust", "-U", "postgres", "--no-sync"}))
            return false;
        return up();
    }
    bool up()
    {
        return run("pg_ctl", {"-D", dir.filePath("data"), "-w", "-l", dir.filePath("log"), "-o",
                              "-c listen_addresses='' -k " + dir.path() + " -c fsync=off", "start"});
    }
    bool down() { return run("pg_ctl", {"-D", dir.filePath("data"), "-w", "-m", "fast", "stop"}); }
    ~PostgresCluster() { run("pg_ctl", {"-D", dir.filePath("data"), "-w", "-m", "immediate", "stop"}); }

    QString url() const { return "postgresql:///postgres?host=" + dir.path() + "&user=postgres"; }
    // Runs SQL statements on the cluster's database; whether they all succeeded.
    bool psql(const QString& statements)
    {
        return run("psql", {"-h", dir.path(), "-U", "postgres", "-d", "postgres", "-v", "ON_ERROR_STOP=1", "-q", "-c",
                            statements});
    }

private:
    // A PostgreSQL program, as nobody when the test runs as root (the server refuses root).
    bool run(const QString& tool, const QStringList& args)
    {
        const QString path = "/usr/lib/postgresql/15/bin/" + tool;
        QProcess p;
        p.setWorkingDirectory(dir.path());
        if (::geteuid() == 0)
            p.start("runuser", QStringList{"-u", "nobody", "--", path} + args);
        else
            p.start(path, args);
        return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QTemporaryDir dir{QDir::tempPath() + "/nubora1-pg-XXXXXX"};
};

// The five records of one range that (name, score) pairs entered in this order leave.
inline QByteArray rangeRecords(const std::vector<std::pair<QByteArray, int>>& entered)
{
    QByteArray bytes = rankingbytes::blankRecords(5);
    for (const auto& [name, score] : entered)
        bytes = rankingbytes::entered(bytes, name, score);
    return bytes;
}

// A test's two stores: a data folder of its own for SQLite, and PostgreSQL in a cluster shared
// by the test's functions (its database emptied for each).
class Stores {
public:
    static void rows()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }
    bool start() { return postgresUp = postgres.start(); }
    // For each test function's row: a new data folder, an empty PostgreSQL database.
    bool fresh(const QString& kind)
    {
        data = std::make_unique<QTemporaryDir>();
        return kind != "postgresql"
               || (postgresUp && postgres.psql("DROP SCHEMA public CASCADE; CREATE SCHEMA public;"));
    }
    QStringList args(const QString& kind) const
    {
        return kind == "postgresql" ? QStringList{"--database", postgres.url()} : QStringList{"--data", data->path()};
    }

    PostgresCluster postgres;
    bool postgresUp = false;
    std::unique_ptr<QTemporaryDir> data;
};

} // namespace serverfixture

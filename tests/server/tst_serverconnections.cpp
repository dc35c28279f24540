// SPDX-License-Identifier: GPL-3.0-or-later
// The class server against connections that would hold it, and the teacher's page's streams
// of changes: the real nubora1-server on a loopback port over SQLite in a temporary folder (the
// streams also over a PostgreSQL of the test's own, through two servers), and connections of
// the test's own from another loopback address (127.0.0.2) that stay silent, send slowly, stay
// idle, come too many, flood header lines, open the teacher's page's event stream and never
// read it, or send what the server refuses. Another device's save is still answered within a
// pupil's client's 10 s, and the server grows by less than 48 MB.
#include "server_fixture.h"

#include <QFile>
#include <QTest>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace serverfixture;
using rankingbytes::blankRecords;

namespace {

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

// The resident memory of a process in MB, from /proc/PID/status.
long residentMegabytes(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong() / 1024;
    return -1;
}

} // namespace

class ServerConnectionsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> data;
    QStringList store() const { return {"--data", data->path()}; }
    Stores stores; // the teacher's streams over both stores

private slots:
    void initTestCase()
    {
        QVERIFY2(!program().isEmpty(), "NUBORA_SERVER names no nubora1-server (CTest sets it)");
        stores.start();
        rlimit files{}; // the hostile connections' sockets
        if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
    }
    void init() { data = std::make_unique<QTemporaryDir>(); }

    // Guards against connections that hold the server: whatever one device (127.0.0.2) holds
    // open or sends, another device's save is answered within a pupil's client's 10 s, the
    // hostile requests are refused as the row says (with the server's JSON error, then closed),
    // and the server grows by less than 48 MB (a flood of header lines read whole: 240 MB).
    void hostileConnections_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::newRow("300 silent connections") << "silent" << 300 << QByteArray() << 0;
        // (a class of forty behind one address, six connections each, is served; not every one of 700)
        QTest::newRow("700 connections, past one address's share")
            << "crowd" << 700 << QByteArray("GET /api/v1/classes/KEY HTTP/1.1\r\n\r\n") << 200;
        QTest::newRow("300 connections sending their headers a byte at a time")
            << "slow" << 300 << QByteArray("POST /api/v1/classes/KEY/entries HTTP/1.1\r\nX-Slow: ") << 0;
        QTest::newRow("200 idle keep-alive connections")
            << "idle" << 200 << QByteArray("GET /api/v1/classes/KEY HTTP/1.1\r\nHost: a\r\n\r\n") << 200;
        // (a class's streams of the teacher's page are connections too, held by the same limits)
        QTest::newRow("32 event streams, never read")
            << "streams" << 32 << QByteArray("GET /api/v1/teachers/TEACHER/events HTTP/1.1\r\n\r\n") << 200;
        QTest::newRow("20,000 header lines of 8 kB") << "flood" << 1 << QByteArray("GET / HTTP/1.1\r\n") << 0;
        QByteArray fields = "GET /api/v1/classes/KEY HTTP/1.1\r\n";
        for (int i = 0; i < 150; ++i)
            fields += "X-Field-" + QByteArray::number(i) + ": 1\r\n";
        QTest::newRow("150 header fields") << "request" << 1 << fields + "\r\n" << 431;
        QTest::newRow("a pupil's body of 600 bytes announced, not sent")
            << "request" << 1 << QByteArray("POST /api/v1/classes/KEY/entries HTTP/1.1\r\nContent-Length: 600\r\n\r\n")
            << 413;
        QTest::newRow("a malformed request line") << "request" << 1 << QByteArray("GET\r\n\r\n") << 400;
    }
    void hostileConnections()
    {
        QFETCH(QString, kind);
        QFETCH(int, count);
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        const ClassKeys keys = addClass(store(), "３年２組");
        ServerProcess server(store());
        QVERIFY(server.start());
        bytes.replace("KEY", QByteArray::fromStdString(keys.pupils))
            .replace("TEACHER", QByteArray::fromStdString(keys.teacher));
        const long before = residentMegabytes(server.processId());
        std::vector<std::unique_ptr<RawConnection>> hostile;
        for (int i = 0; i < count; ++i) {
            hostile.push_back(std::make_unique<RawConnection>(server.port, "127.0.0.2"));
            QVERIFY(hostile.back()->connected());
            QVERIFY(bytes.isEmpty() || hostile.back()->send(bytes.toStdString()));
        }
        if (kind == "flood") { // cut off (an answer, or sending fails) before all of it is sent
            const std::string line = "X-Flood: " + std::string(8000, 'a') + "\r\n";
            int sent = 0;
            while (sent < 20000 && hostile[0]->send(line))
                ++sent;
            QVERIFY2(sent < 20000 || hostile[0]->answer(std::chrono::seconds(10)).status / 100 == 4,
                     "the flood was read to its end");
        }
        // The first answer (the others may still be on their way), then the save.
        const auto answered = [&](RawConnection& c) {
            const Answer a = c.answer(std::chrono::seconds(10));
            QCOMPARE(a.status, status);
            if (kind == "request") {
                QVERIFY(!json(a)["error"].toString().isEmpty());
                QVERIFY(c.closedBy(std::chrono::seconds(10)));
            }
        };
        if (status)
            answered(*hostile[0]);
        std::future<Answer> saved = std::async(std::launch::async, [&] {
            return save(server.port, keys, "other-device", 0, 2, "g", "10.6.0.1", "other-device-1", 10);
        });
        // The slow connections send a byte each second until the save is answered.
        while (saved.wait_for(std::chrono::seconds(1)) != std::future_status::ready)
            for (const auto& c : hostile)
                if (kind == "slow")
                    c->send("x");
        const Answer a = saved.get();
        QVERIFY2(a.status == 200, a.body.c_str());
        int served = 1;
        for (std::size_t i = 1; kind == "crowd" && i < hostile.size(); ++i)
            served += hostile[i]->answer(std::chrono::seconds(10)).status == 200;
        QVERIFY2(kind != "crowd" || (served >= 240 && served < count), qPrintable(QString("%1 served").arg(served)));
        for (std::size_t i = 1; status && kind != "crowd" && i < hostile.size(); ++i)
            answered(*hostile[i]);
        if (kind == "streams") // past a keep-alive connection's 5 s of silence, still open
            QVERIFY(!hostile[0]->closedBy(std::chrono::seconds(6)));
        const long grown = residentMegabytes(server.processId()) - before;
        QVERIFY2(before > 0 && grown < 48, qPrintable(QString("grew by %1 MB").arg(grown)));
    }

    // Guards against a teacher's board that stays as it was: a class's change reaches a stream
    // of its teacher's page (how soon is the benchmark's to measure), whichever server process on
    // the same PostgreSQL made it, also after the database restarted (the stream is told of
    // that too); what changes nothing sends nothing. Each row's change follows a save of
    // "entry-one" made before the stream opened.
    void changesReachTheTeachersStream_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("otherServer");
        QTest::addColumn<int>("events"); // that the change sends
        QTest::newRow("sqlite: a save") << "sqlite"
                                        << "save" << false << 1;
        QTest::newRow("sqlite: the same save again") << "sqlite"
                                                     << "again" << false << 0;
        QTest::newRow("sqlite: a game alone") << "sqlite"
                                              << "game" << false << 1;
        QTest::newRow("sqlite: a take-down") << "sqlite"
                                             << "remove" << false << 1;
        QTest::newRow("sqlite: an import") << "sqlite"
                                           << "import" << false << 1;
        QTest::newRow("sqlite: a pupil's 初期化") << "sqlite"
                                                  << "blank" << false << 1;
        QTest::newRow("sqlite: the pupils' 初期化 setting") << "sqlite"
                                                            << "settings" << false << 1;
        QTest::newRow("postgresql: a save") << "postgresql"
                                            << "save" << false << 1;
        QTest::newRow("postgresql: a save through another server") << "postgresql"
                                                                   << "save" << true << 1;
        QTest::newRow("postgresql: the same save again through another server") << "postgresql"
                                                                                << "again" << true << 0;
        QTest::newRow("postgresql: a take-down through another server") << "postgresql"
                                                                        << "remove" << true << 1;
        QTest::newRow("postgresql: the setting through another server") << "postgresql"
                                                                        << "settings" << true << 1;
        QTest::newRow("postgresql: a save through another server after the database restarted")
            << "postgresql"
            << "restart" << true << 1;
    }
    void changesReachTheTeachersStream()
    {
        QFETCH(QString, kind);
        QFETCH(QString, change);
        QFETCH(bool, otherServer);
        QFETCH(int, events);
        QVERIFY2(stores.fresh(kind), "no PostgreSQL cluster could be started");
        const ClassKeys keys = addClass(stores.args(kind), "３年２組");
        ServerProcess one(stores.args(kind)), two(stores.args(kind));
        QVERIFY(one.start());
        QVERIFY(!otherServer || two.start());
        const int port = otherServer ? two.port : one.port;
        QCOMPARE(request(one.port, "GET", "/api/v1/teachers/AAAAAAAAAAAAAAAAAAAAAA/events").status, 404);
        const std::string first = entryBody(port, keys, "entry-one", 1, 30, "たろう");
        const std::string entries = "/api/v1/classes/" + keys.pupils + "/entries";
        // (once a first stream heard of the first save, the server's PostgreSQL listener is in place)
        ChangeStream probe(one.port, keys);
        QCOMPARE(request(port, "POST", entries, first, "10.7.0.1").status, 200);
        QVERIFY(probe.changes(1, std::chrono::seconds(10)));
        ChangeStream stream(one.port, keys);
        const std::string header = stream.header();
        QVERIFY2(header.starts_with("HTTP/1.1 200")
                     && header.find("Content-Type: text/event-stream") != std::string::npos
                     && header.find("Cache-Control: no-store") != std::string::npos
                     && header.find("X-Accel-Buffering: no") != std::string::npos,
                 header.c_str());
        if (change == "restart") {
            QVERIFY(stores.postgres.down());
            QVERIFY(stores.postgres.up());
            QVERIFY2(stream.changes(1, std::chrono::seconds(20)), "not told of the database's return");
            // (the other server's pooled connections, dropped by the restart, found out)
            for (int tries = 0; tries < 20 && request(port, "GET", "/api/v1/teachers/" + keys.teacher).status != 200;
                 ++tries)
                QTest::qWait(100);
        }
        const int before = stream.events();
        const std::string teachers = "/api/v1/teachers/" + keys.teacher + "/";
        const std::string ticket = ticketOf(port, keys);
        const std::map<QString, std::pair<std::string, std::string>> changes = {
            {"save", {entries, entryBody(port, keys, "entry-two", 1, 40, "はなこ")}},
            {"restart", {entries, entryBody(port, keys, "entry-two", 1, 40, "はなこ")}},
            {"again", {entries, first}},
            {"game",
             {"/api/v1/classes/" + keys.pupils + "/games",
              "{\"ticket\":\"" + ticket + "\",\"log\":\"" + playedgame::logScoring(ticket::parse(ticket)->seed, 0, 10)
                  + "\"}"}},
            {"remove", {teachers + "remove", "{\"id\":\"entry-one\"}"}},
            {"import", {teachers + "import", blankRecords(75).toStdString()}},
            {"blank", {"/api/v1/classes/" + keys.pupils + "/blank", "{\"id\":\"blank-one\"}"}},
            {"settings", {teachers + "settings", "{\"pupilsBlank\":false}"}}};
        const auto& [path, body] = changes.at(change);
        QCOMPARE(request(port, "POST", path, body, "10.7.0.2").status, 200);
        QCOMPARE(stream.changes(before + 1, std::chrono::milliseconds(events > 0 ? 15000 : 1000)), events > 0);
        QVERIFY(!stream.changes(before + events + 1, std::chrono::milliseconds(200))); // one event a change
        QVERIFY(!stream.closed);
    }

    // Guards against a client that opens the teacher's page's stream and never reads it: the
    // server buffers little for it and drops it, while a stream that reads gets every event
    // and stays, and saves are answered. A class holds at most 32 streams; a dropped one
    // frees its place.
    void unreadStreamsAreDropped()
    {
        const ClassKeys keys = addClass(store(), "３年２組");
        ServerProcess server(store());
        QVERIFY(server.start());
        const std::string get = "GET /api/v1/teachers/" + keys.teacher + "/events HTTP/1.1\r\n\r\n";
        std::vector<std::unique_ptr<RawConnection>> unread;
        for (int i = 0; i < 31; ++i) {
            unread.push_back(std::make_unique<RawConnection>(server.port, "127.0.0.2", 1024));
            QVERIFY(unread.back()->send(get));
            QCOMPARE(unread.back()->answer(std::chrono::seconds(10)).status, 200); // its header; then never read
        }
        ChangeStream reader(server.port, keys);
        QVERIFY(reader.header().starts_with("HTTP/1.1 200"));
        RawConnection past(server.port, "127.0.0.3");
        QVERIFY(past.send(get));
        QCOMPARE(past.answer(std::chrono::seconds(10)).status, 503);
        const int changes = 400;
        for (int i = 0; i < changes; ++i) {
            const std::string body = std::string("{\"pupilsBlank\":") + (i % 2 ? "true" : "false") + "}";
            QCOMPARE(request(server.port, "POST", "/api/v1/teachers/" + keys.teacher + "/settings", body,
                             "10.9." + std::to_string(i / 200) + "." + std::to_string(i % 200))
                         .status,
                     200);
            QVERIFY2(reader.changes(i + 1, std::chrono::seconds(15)), qPrintable(QString("event %1").arg(i + 1)));
        }
        for (const auto& c : unread)
            QVERIFY(c->closedBy(std::chrono::seconds(10)));
        QVERIFY(!reader.closed);
        ChangeStream another(server.port, keys);
        QVERIFY(another.header().starts_with("HTTP/1.1 200"));
        QCOMPARE(save(server.port, keys, "after-streams", 0, 2, "g", "10.6.0.1", "other-device-1", 10).status, 200);
        QVERIFY(reader.changes(changes + 1, std::chrono::seconds(15)) && another.changes(1, std::chrono::seconds(15)));
    }
};

QTEST_GUILESS_MAIN(ServerConnectionsTest)
#include "tst_serverconnections.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The class server against connections that would hold it, and the event streams of the
// teacher's page (changes, rounds) and of the pupils' (rounds started): the real
// nubora1-server on a loopback port over SQLite in a temporary folder (the streams also over a
// PostgreSQL of the test's own, through two servers), and connections of the test's own from
// another loopback address (127.0.0.2) that stay silent, send slowly, stay idle, come too
// many, flood header lines, open event streams and never read them, or send what the server
// refuses. Another device's save is still answered within a
// pupil's client's 10 s, and the server grows by less than 48 MB.
#include "server_fixture.h"

#include "server/http_server.h"

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
    // A class's event streams fill as its limit says, the teacher's and the pupils' each their
    // own: one side full leaves the other all of its places.
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
        QTest::newRow("100 pupils' event streams, never read")
            << "streams" << 100 << QByteArray("GET /api/v1/classes/KEY/events HTTP/1.1\r\n\r\n") << 200;
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
        if (kind == "streams") { // past a keep-alive connection's 5 s of silence, still open
            QVERIFY(!hostile[0]->closedBy(std::chrono::seconds(6)));
            // The class's streams of this side are full; the other side's are its own, as many.
            const bool teachers = bytes.contains("/teachers/");
            const server::HttpLimits limits;
            const auto open = [&](bool teacher) {
                hostile.push_back(std::make_unique<RawConnection>(server.port, "127.0.0.3"));
                hostile.back()->send("GET /api/v1/" + (teacher ? "teachers/" + keys.teacher : "classes/" + keys.pupils)
                                     + "/events HTTP/1.1\r\n\r\n");
                return hostile.back()->answer(std::chrono::seconds(10)).status;
            };
            QCOMPARE(open(teachers), 503);
            for (std::size_t i = 0; i < (teachers ? limits.pupilStreamsPerClass : limits.streamsPerClass); ++i)
                QCOMPARE(open(!teachers), 200);
            QCOMPARE(open(!teachers), 503);
        }
        const long grown = residentMegabytes(server.processId()) - before;
        QVERIFY2(before > 0 && grown < 48, qPrintable(QString("grew by %1 MB").arg(grown)));
    }

    // Guards against a teacher's board that stays as it was and a pupils' page that misses a
    // round's start: a class's change reaches a stream of its teacher's page as "change"; a
    // round's start, a join and a stored answer reach it as "round", and a round's start alone
    // reaches the pupils' stream (how soon is the benchmark's to measure); whichever server
    // process on the same PostgreSQL made it, also after the database restarted (both streams
    // are told of that too). What changes nothing sends nothing. Each row's change follows a
    // save of "entry-one" made before the streams opened, and the calls of a round it needs.
    void changesReachTheStreams_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("otherServer");
        // What the change sends: "change" and "round" to the teacher's stream, "round" to the pupils'.
        QTest::addColumn<int>("changes");
        QTest::addColumn<int>("rounds");
        QTest::addColumn<int>("pupils");
        const auto row = [](const char* name, const char* change, bool otherServer, int changes, int rounds,
                            int pupils) {
            QTest::newRow(name) << QString(name).section(':', 0, 0) << QString(change) << otherServer << changes
                                << rounds << pupils;
        };
        row("sqlite: a save", "save", false, 1, 0, 0);
        row("sqlite: the same save again", "again", false, 0, 0, 0);
        row("sqlite: a game alone", "game", false, 1, 0, 0);
        row("sqlite: a take-down", "remove", false, 1, 0, 0);
        row("sqlite: an import", "import", false, 1, 0, 0);
        row("sqlite: a pupil's 初期化", "blank", false, 1, 0, 0);
        row("sqlite: the pupils' 初期化 setting", "settings", false, 1, 0, 0);
        row("sqlite: a round started", "start", false, 0, 1, 1);
        row("sqlite: a round started while one is under way", "start again", false, 0, 0, 0);
        row("sqlite: a device joins", "join", false, 0, 1, 0);
        row("sqlite: an answer", "answer", false, 0, 1, 0);
        row("sqlite: the same answer again", "answer again", false, 0, 0, 0);
        row("postgresql: a save", "save", false, 1, 0, 0);
        row("postgresql: a save through another server", "save", true, 1, 0, 0);
        row("postgresql: the same save again through another server", "again", true, 0, 0, 0);
        row("postgresql: a take-down through another server", "remove", true, 1, 0, 0);
        row("postgresql: the setting through another server", "settings", true, 1, 0, 0);
        row("postgresql: a round started through another server", "start", true, 0, 1, 1);
        row("postgresql: a device joins through another server", "join", true, 0, 1, 0);
        row("postgresql: an answer through another server", "answer", true, 0, 1, 0);
        row("postgresql: the same answer again through another server", "answer again", true, 0, 0, 0);
        row("postgresql: a save through another server after the database restarted", "restart", true, 1, 0, 0);
    }
    void changesReachTheStreams()
    {
        QFETCH(QString, kind);
        QFETCH(QString, change);
        QFETCH(bool, otherServer);
        QFETCH(int, changes);
        QFETCH(int, rounds);
        QFETCH(int, pupils);
        QVERIFY2(stores.fresh(kind), "no PostgreSQL cluster could be started");
        const ClassKeys keys = addClass(stores.args(kind), "３年２組");
        ServerProcess one(stores.args(kind)), two(stores.args(kind));
        QVERIFY(one.start());
        QVERIFY(!otherServer || two.start());
        const int port = otherServer ? two.port : one.port;
        QCOMPARE(request(one.port, "GET", "/api/v1/teachers/AAAAAAAAAAAAAAAAAAAAAA/events").status, 404);
        QCOMPARE(request(one.port, "GET", "/api/v1/classes/AAAAAAAAAAAAAAAAAAAAAA/events").status, 404);
        const std::string first = entryBody(port, keys, "entry-one", 1, 30, "たろう");
        const std::string entries = "/api/v1/classes/" + keys.pupils + "/entries";
        const std::string teachers = "/api/v1/teachers/" + keys.teacher + "/";
        const std::string round = "/api/v1/classes/" + keys.pupils + "/round/";
        const std::string ticket = ticketOf(port, keys);
        using Call = std::pair<std::string, std::string>; // a POST's path and body
        const Call save{entries, entryBody(port, keys, "entry-two", 1, 40, "はなこ")},
            start{teachers + "round", R"({"range":1})"}, join{round + "join", R"({"number":1})"},
            answer{round + "answers", R"({"number":1,"question":0,"button":0})"};
        // Each change's calls: those before it, made before the streams open, then the change.
        const std::map<QString, std::vector<Call>> calls = {
            {"save", {save}},
            {"restart", {save}},
            {"again", {{entries, first}}},
            {"game",
             {{"/api/v1/classes/" + keys.pupils + "/games",
               "{\"ticket\":\"" + ticket + "\",\"log\":\"" + playedgame::logScoring(ticket::parse(ticket)->seed, 0, 10)
                   + "\"}"}}},
            {"remove", {{teachers + "remove", "{\"id\":\"entry-one\"}"}}},
            {"import", {{teachers + "import", blankRecords(75).toStdString()}}},
            {"blank", {{"/api/v1/classes/" + keys.pupils + "/blank", "{\"id\":\"blank-one\"}"}}},
            {"settings", {{teachers + "settings", "{\"pupilsBlank\":false}"}}},
            {"start", {start}},
            {"start again", {start, start}},
            {"join", {start, join}},
            {"answer", {start, join, answer}},
            {"answer again", {start, join, answer, answer}}};
        const std::vector<Call>& mine = calls.at(change);
        const httplib::Headers device{{"X-Nubora-Device", "stream-device-1"}};
        // (once a first stream heard of the first save, the server's PostgreSQL listener is in place)
        ChangeStream probe(one.port, keys);
        QCOMPARE(request(port, "POST", entries, first, "10.7.0.1").status, 200);
        QVERIFY(probe.changes(1, std::chrono::seconds(10)));
        for (std::size_t i = 0; i + 1 < mine.size(); ++i) {
            const Answer a = request(port, "POST", mine[i].first, mine[i].second, "10.7.0.3", device);
            QVERIFY2(a.status == 200, a.body.c_str());
            QVERIFY(probe.rounds(int(i) + 1, std::chrono::seconds(10)));
        }
        ChangeStream stream(one.port, keys), pupilsStream(one.port, keys, true);
        for (const std::string& header : {stream.header(), pupilsStream.header()})
            QVERIFY2(header.starts_with("HTTP/1.1 200")
                         && header.find("Content-Type: text/event-stream") != std::string::npos
                         && header.find("Cache-Control: no-store") != std::string::npos
                         && header.find("X-Accel-Buffering: no") != std::string::npos,
                     header.c_str());
        if (change == "restart") {
            QVERIFY(stores.postgres.down());
            QVERIFY(stores.postgres.up());
            QVERIFY2(stream.changes(1, std::chrono::seconds(20)) && stream.rounds(1, std::chrono::seconds(20))
                         && pupilsStream.rounds(1, std::chrono::seconds(20)),
                     "not told of the database's return");
            // (the other server's pooled connections, dropped by the restart, found out)
            for (int tries = 0; tries < 20 && request(port, "GET", "/api/v1/teachers/" + keys.teacher).status != 200;
                 ++tries)
                QTest::qWait(100);
        }
        // Each stream's events of each name: as many as the change sends, then no more.
        struct Heard {
            ChangeStream& stream;
            std::string name;
            int sent, before;
        };
        std::vector<Heard> heard{{stream, "change", changes, stream.events("change")},
                                 {stream, "round", rounds, stream.events("round")},
                                 {pupilsStream, "round", pupils, pupilsStream.events("round")}};
        const Answer a = request(port, "POST", mine.back().first, mine.back().second, "10.7.0.2", device);
        QVERIFY2(a.status == (change == "start again" ? 409 : 200), a.body.c_str());
        const auto said = [&](const Heard& h) { return (&h.stream == &stream ? "teacher's " : "pupils' ") + h.name; };
        for (const Heard& h : heard)
            QVERIFY2(h.stream.heard(h.name, h.before + h.sent, std::chrono::seconds(15)), said(h).c_str());
        // Then no more: a second for those sent nothing, a moment each at least.
        const auto quiet = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (const Heard& h : heard) {
            const auto left = std::max(
                std::chrono::milliseconds(200),
                std::chrono::duration_cast<std::chrono::milliseconds>(quiet - std::chrono::steady_clock::now()));
            QVERIFY2(!h.stream.heard(h.name, h.before + h.sent + 1, left), said(h).c_str());
        }
        QVERIFY(!stream.closed && !pupilsStream.closed);
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
        // 24 bytes an event: 2,000 of them pass by far what the kernel can hold for an unread
        // stream (the server's send buffer, twice its 4 kB, and the client's 2 kB) besides the
        // server's own 4 kB. 400 did not, when the server wrote them in batches.
        const int changes = 2000;
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

// SPDX-License-Identifier: GPL-3.0-or-later
// The class server's answers to single requests, as pupils' devices, a teacher's browser and
// anyone else send them: the real nubora1-server on a loopback port over SQLite in a temporary
// folder. What it refuses stores nothing; the limits count devices, classes and addresses as a
// classroom has them; a teacher loads only ranking files, and changes a class only from the
// server's own pages.
#include "server_fixture.h"

#include "server/tickets.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

using namespace serverfixture;
using rankingbytes::record;

class ServerRequestsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> data;
    QStringList store() const { return {"--data", data->path()}; }

private slots:
    void initTestCase() { QVERIFY2(!program().isEmpty(), "NUBORA_SERVER names no nubora1-server (CTest sets it)"); }
    void init() { data = std::make_unique<QTemporaryDir>(); }

    // Guards against a hostile request storing anything, or telling which keys exist, against
    // refusing a name that only looks like markup, and against a score no game gave entering
    // the lists. In a body, TICKET is a ticket of the class and LOG the log of a game on it
    // scoring 20 in range 1.
    void hostileRequestsStoreNothing_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        const QByteArray ok = R"({"id":"hostile01","range":1,"score":20,"name":"NAME","ticket":"TICKET","log":"LOG"})";
        const QByteArray game = R"({"ticket":"TICKET","log":"LOG"})";
        auto named = [&](const QByteArray& name) { return QByteArray(ok).replace("NAME", name); };
        const auto row = [](const char* name, const char* route, const char* key, const QByteArray& body, int status,
                            const char* error = "") {
            QTest::newRow(name) << QString(route) << QString(key) << body << status << QString(error);
        };
        row("oversized body", "entries", "good", named(QByteArray(600, 'a')), 413);
        row("score 51", "entries", "good", QByteArray(ok).replace("20", "51"), 400);
        row("score -1", "entries", "good", QByteArray(ok).replace("20", "-1"), 400);
        row("score 2.5", "entries", "good", QByteArray(ok).replace("20", "2.5"), 400);
        row("range 4", "entries", "good", QByteArray(ok).replace(":1,", ":4,"), 400);
        row("name of 11 characters", "entries", "good", named("abcdefghijk"), 400);
        row("name of 11 bytes in Shift-JIS", "entries", "good", named("あいうえおa"), 400);
        row("control character", "entries", "good", named("a\\u0007b"), 400);
        row("line break", "entries", "good", named("a\\nb"), 400);
        // Whatever the name box lets a pupil type is saved, as typed: markup is only text.
        row("<aki>", "entries", "good", named("<aki>"), 200);
        row("<b>x</b>", "entries", "good", named("<b>x</b>"), 200);
        row("<i>y</i>", "entries", "good", named("<i>y</i>"), 200);
        row("an end tag", "entries", "good", named("a</p>"), 200);
        row("a comment", "entries", "good", named("<!--"), 200);
        row("a formula", "entries", "good", named("=1+1"), 200);
        row("<3 is a name, not markup", "entries", "good", named("<3"), 200);
        row(">_< is a name, not markup", "entries", "good", named(">_<"), 200);
        row("unpaired surrogate", "entries", "good", named("\\ud800"), 400);
        row("short id", "entries", "good", QByteArray(ok).replace("hostile01", "h1"), 400);
        row("not JSON", "entries", "good", QByteArray("range=1&score=20"), 400);
        row("unknown key", "entries", "unknown", ok, 404);
        row("malformed key", "entries", "malformed", ok, 404);
        row("teacher's key as pupils'", "entries", "teacher", ok, 404);
        row("blank with unknown key", "blank", "unknown", QByteArray(R"({"id":"hostile02"})"), 404);
        row("import of nothing", "import", "good", QByteArray(), 400);
        row("import too large", "import", "good", QByteArray(70000, 'x'), 413);
        row("import check too large", "import/check", "good", QByteArray(70000, 'x'), 413);
        row("import check with unknown key", "import/check", "unknown", rankingFile(75), 404);
        row("restore of no history", "restore", "good", QByteArray(R"({"history":99})"), 404);
        // Which refusal wins where a request earns several (api.h; the HTTP layer refuses a
        // pupil's body past 512 bytes first). .csv: the teacher's side.
        const QByteArray large(600, 'a');
        row("the key's trailing slash", "", "good", "{}", 404, "not found");
        row("a round's read posted, without a device", "round", "good", "{}", 405, "method not allowed");
        row("a join without a device, unknown key", "round/join", "unknown", "{}", 400, "device id missing");
        row("the teacher's CSV posted", "entries.csv", "good", "{}", 405, "method not allowed");
        row("the teacher's CSV posted, too large", "entries.csv", "good", large, 413, "request too large");
        row("a teacher's path of no route, too large", "nothing.csv", "good", large, 413, "request too large");
        row("an unknown key's path of no route, too large", "nothing.csv", "unknown", large, 413, "request too large");
        // A score stands only by the game the server replays from the seed it issued.
        const auto forged = [&](const char* row, const QByteArray& from, const QByteArray& to, const char* error,
                                const QByteArray& body = {}) {
            QTest::newRow(row) << "entries"
                               << "good" << QByteArray(body.isEmpty() ? ok : body).replace(from, to) << 422 << error;
        };
        forged("no ticket", R"(,"ticket":"TICKET")", "", "no ticket");
        forged("no log", R"(,"log":"LOG")", "", "no log of the game");
        forged("a made-up ticket", "TICKET", "1.1.1797392147.7.AAAAAAAAAAAAAAAAAAAAAA.AAAAAAAAAAAAAAAAAAAAAA",
               "ticket not issued by this server");
        forged("another class's ticket", "TICKET", "OTHERS", "ticket of another class");
        forged("a ticket used before", "TICKET", "USED", "ticket already used",
               QByteArray(ok).replace("LOG", "USEDLOG"));
        forged("a ticket too old", "TICKET", "OLD", "ticket too old");
        forged("a seed changed", "TICKET", "RESEEDED", "ticket not issued by this server");
        forged("a wrong answer logged as right", "LOG", "WRONG", "score is not the sum");
        forged("points above what the countdown shows", "LOG", "1;1;0@11,t,t,t,t", "no countdown shows those points");
        forged("a score that is not the sum", R"("score":20)", R"("score":30)", "score is not the sum");
        forged("a log of four questions", "LOG", "FOUR", "a game has five questions");
        forged("a range not the game's", R"("range":1)", R"("range":2)", "range is not the game's");
        QTest::newRow("a game alone on a ticket another game used")
            << "games"
            << "good" << QByteArray(game).replace("TICKET", "USED").replace("LOG", "OTHERLOG") << 422
            << "ticket already used";
        QTest::newRow("the same game alone again")
            << "games"
            << "good" << QByteArray(game).replace("TICKET", "USED").replace("LOG", "USEDLOG") << 200 << "";
        QTest::newRow("a game alone without a ticket")
            << "games"
            << "good" << QByteArray(R"({"log":"LOG"})") << 422 << "no ticket";
    }
    void hostileRequestsStoreNothing()
    {
        QFETCH(QString, route);
        QFETCH(QString, key);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, error);
        const ClassKeys keys = addClass(store(), "３年２組"), others = addClass(store(), "３年３組");
        ServerProcess server(store());
        QVERIFY(server.start());
        const std::string ticket = ticketOf(server.port, keys);
        const std::optional<ticket::Ticket> t = ticket::parse(ticket);
        QVERIFY(t);
        const std::string log = playedgame::logScoring(t->seed, 1, 20);
        std::string wrong = log; // the first answer's button made a wrong one, its points kept
        const auto drawn =
            std::get<gamelog::Replay>(gamelog::replay(t->seed, std::get<gamelog::GameLog>(gamelog::parse(log))));
        for (const char b : {'0', '1', '2', '4'})
            if (!question::isRightAnswer(drawn.questions[0].relation.kankei, std::int16_t(b - '0')))
                wrong[4] = b;
        ticket::Ticket old = *t, reseeded = *t;
        old.issued -= ::server::ticketLifetime + 60;
        old.mark = ::server::TicketDesk(
                       ::server::openSqliteStore(data->path().toStdString())->setting("ticket-secret").value())
                       .mark(old);
        reseeded.seed ^= 1;
        const std::string used = ticketOf(server.port, keys);
        const std::string usedLog = playedgame::logScoring(ticket::parse(used)->seed, 1, 20);
        QCOMPARE(request(server.port, "POST", "/api/v1/classes/" + keys.pupils + "/games",
                         R"({"ticket":")" + used + R"(","log":")" + usedLog + R"("})")
                     .status,
                 200);
        for (const auto& [placeholder, meant] :
             {std::pair<std::string, std::string>{"OTHERS", ticketOf(server.port, others)},
              {"OTHERLOG", playedgame::logScoring(ticket::parse(used)->seed, 1, 10)}, // never USEDLOG's text
              {"USEDLOG", usedLog},
              {"USED", used},
              {"OLD", ticket::write(old)},
              {"RESEEDED", ticket::write(reseeded)},
              {"TICKET", ticket},
              {"WRONG", wrong},
              {"FOUR", log.substr(0, log.rfind(','))},
              {"LOG", log}})
            body.replace(QByteArray::fromStdString(placeholder), QByteArray::fromStdString(meant));
        const bool teacher = route.startsWith("import") || route == "restore" || route.endsWith(".csv");
        const std::string k = key == "unknown"              ? "AAAAAAAAAAAAAAAAAAAAAA"
                              : key == "malformed"          ? "abc"
                              : key == "teacher" || teacher ? keys.teacher
                                                            : keys.pupils;
        const Answer a = request(server.port, "POST",
                                 (teacher ? "/api/v1/teachers/" : "/api/v1/classes/") + k + "/" + route.toStdString(),
                                 body.toStdString(), "10.4.0.1");
        QCOMPARE(a.status, status);
        const ClassState state = teacherView(server.port, keys);
        if (status == 200 && route == "games") { // sent again: stored once
            QCOMPARE(QByteArray::fromStdString(a.body), QByteArray(R"({"stored":true})"));
            QVERIFY(state.image.isEmpty() && state.entries.empty());
            QCOMPARE(::server::openSqliteStore(data->path().toStdString())->games(1, "").size(), std::size_t(1));
            return;
        }
        if (status == 200) { // (a name that only looks odd is saved as typed, and is a text cell in the CSV)
            const QString name = QJsonDocument::fromJson(body).object()["name"].toString();
            QCOMPARE(state.entries.size(), std::size_t(1));
            QCOMPARE(state.entries.at("hostile01").name, name);
            const std::string csv =
                request(server.port, "GET", "/api/v1/teachers/" + keys.teacher + "/entries.csv").body;
            const QString cell = (name.startsWith('=') ? "\"'" : "\"") + name + "\",\"\"\r\n"; // then 取り消し
            QVERIFY2(QString::fromStdString(csv).endsWith(cell), csv.c_str());
            return;
        }
        QVERIFY(!json(a)["error"].toString().isEmpty());
        if (!error.isEmpty())
            QCOMPARE(json(a)["error"].toString(), error);
        if (status == 404)
            QCOMPARE(QByteArray::fromStdString(a.body), QByteArray(R"({"error":"not found"})"));
        QVERIFY(state.image.isEmpty() && state.entries.empty() && state.history == 0);
    }

    // Guards against one device flooding a class, against a flood from one address spread over
    // made-up device ids, and against refusing what a classroom sends: a device gets 10 at
    // once, then one each 3 s, and another device behind its address is still served; an
    // address gets 400 at once (ten classes of forty), then 10 a second, and another address is
    // still served. A flood of made-up devices sends scores of 51, refused (400) once past the
    // limits, so that the class's own limit stays out of the count. Nothing refused is stored.
    // A device's class round calls (reads of the round) take from a bucket of their own: 30 at
    // once, then 2 a second, and none of the device's saves; and a class of forty behind the
    // flooder's address still joins a round whole.
    void floodIsRefused_data()
    {
        QTest::addColumn<bool>("madeUpDevices");
        QTest::addColumn<bool>("round");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("burst");
        QTest::addColumn<double>("perSecond");
        QTest::newRow("one device") << false << false << 60 << 10 << 1.0 / 3;
        QTest::newRow("a new device id each save") << true << false << 700 << 400 << 10.0;
        QTest::newRow("one device's round calls") << false << true << 80 << 30 << 2.0;
    }
    void floodIsRefused()
    {
        QFETCH(bool, madeUpDevices);
        QFETCH(bool, round);
        QFETCH(int, requests);
        QFETCH(int, burst);
        QFETCH(double, perSecond);
        const ClassKeys keys = addClass(store(), "３年２組");
        ServerProcess server(store());
        QVERIFY(server.start());
        const int answer = madeUpDevices ? 400 : 200;
        const auto roundRead = [&](const std::string& device) {
            return request(server.port, "GET", "/api/v1/classes/" + keys.pupils + "/round", {}, "10.5.0.1",
                           {{"X-Nubora-Device", device}});
        };
        int answered = 0;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < requests; ++i) {
            const int s = round ? roundRead("flooder-0").status
                                : save(server.port, keys, "flood-" + std::to_string(i) + "x", 0, madeUpDevices ? 51 : 1,
                                       "f", "10.5.0.1", "flooder-" + std::to_string(madeUpDevices ? i : 0))
                                      .status;
            QVERIFY2(s == answer || s == 429, qPrintable(QString("status %1").arg(s)));
            answered += s == answer;
        }
        const int most = burst + int(perSecond * double(clock.elapsed()) / 1000) + 1;
        QVERIFY2(answered >= burst && answered <= most,
                 qPrintable(QString("%1 answered, %2 at most").arg(answered).arg(most)));
        QCOMPARE(int(teacherView(server.port, keys).entries.size()), madeUpDevices || round ? 0 : answered);
        if (round) {
            QCOMPARE(roundRead("another-tablet").status, 200);
            // A class of forty behind the same address joining a round (a look, then a clock
            // measured by GET and join) is served whole: the address's cap is not the round's.
            for (int i = 0; i < 40 * 10; ++i)
                QCOMPARE(roundRead("tablet-" + std::to_string(i % 40) + "-of-class").status, 200);
            QCOMPARE(save(server.port, keys, "same-device", 0, 2, "g", "10.5.0.1", "flooder-0").status, 200);
        } else if (!madeUpDevices)
            QCOMPARE(save(server.port, keys, "same-address", 0, 2, "g", "10.5.0.1", "another-tablet").status, 200);
        QCOMPARE(save(server.port, keys, "other-address", 0, 2, "g", "10.5.0.2", "third-tablet").status, 200);
    }

    // Guards against loading a file that is no ranking file (the desktop would show its bytes
    // as names and scores of nonsense), against a check that stores anything, and against a
    // preview other than the lists the import loads.
    void importTakesRankingFilesOnly_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("firstName");
        QByteArray junk(65536, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 7919) >> 3);
        const QByteArray taro = record("\x82\xBD\x82\xEB\x82\xA4", 42); // たろう
        QTest::newRow("64 kB that is no ranking file") << junk << 413 << "";
        QTest::newRow("901 bytes") << rankingFile(75) + 'x' << 413 << "";
        QTest::newRow("a size of no whole records") << rankingFile(75).left(899) << 400 << "";
        QTest::newRow("a negative score") << rankingFile(75, 12 * 3, record("a", -26766)) << 400 << "";
        QTest::newRow("a score above 50") << rankingFile(75, 0, record("a", 51)) << 400 << "";
        QTest::newRow("a control byte in a name") << rankingFile(75, 12 * 5, record("a\ab", 10)) << 400 << "";
        QTest::newRow("bytes of no Shift-JIS character")
            << rankingFile(75, 12 * 20, record("\x82\x20", 10)) << 400 << "";
        QTest::newRow("a bad record past those shown") << rankingFile(75, 12 * 74, record("a", -1)) << 400 << "";
        QTest::newRow("as a save writes it") << rankingFile(75, 0, taro) << 200 << "たろう";
        QTest::newRow("as a 初期化 of a new file writes it") << rankingFile(21) << 200 << "";
        QTest::newRow("names padded with NUL bytes")
            << rankingFile(75, 0, "ab" + QByteArray(8, '\0') + "\x05\0") << 200 << "ab";
    }
    void importTakesRankingFilesOnly()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, status);
        QFETCH(QString, firstName);
        const ClassKeys keys = addClass(store(), "３年２組");
        ServerProcess server(store());
        QVERIFY(server.start());
        const std::string teacher = "/api/v1/teachers/" + keys.teacher;
        const Answer check = request(server.port, "POST", teacher + "/import/check", file.toStdString());
        QCOMPARE(check.status, status);
        const ClassState before = teacherView(server.port, keys);
        QVERIFY(before.image.isEmpty() && before.history == 0);
        if (status == 200) {
            const QJsonArray lists = json(check)["lists"].toArray();
            QCOMPARE(lists.size(), 4);
            QCOMPARE(lists[0].toObject()["rows"].toArray()[0].toObject()["name"].toString(), firstName);
        } else {
            QVERIFY(json(check)["error"].toString().contains("tavon.rnk"));
        }
        const Answer loaded = request(server.port, "POST", teacher + "/import", file.toStdString());
        QCOMPARE(loaded.status, status);
        QCOMPARE(json(loaded)["error"], json(check)["error"]);
        const ClassState after = teacherView(server.port, keys);
        QCOMPARE(after.image, status == 200 ? file : QByteArray());
        QCOMPARE(after.history, status == 200 ? 1 : 0);
    }

    // Guards against another site's page changing a class through its teacher's browser: a
    // teacher's POST from any origin but the server's own is refused and stores nothing, on
    // every route under the teacher's key; a script that sends no Origin is served.
    void crossOriginTeacherPostsAreRefused_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("origin");
        QTest::addColumn<QString>("fetchSite");
        QTest::addColumn<int>("status");
        QTest::newRow("a script, without Origin") << "import"
                                                  << ""
                                                  << "" << 200;
        QTest::newRow("the server's own page") << "import"
                                               << "http://HOST"
                                               << "same-origin" << 200;
        QTest::newRow("behind a proxy for TLS") << "import"
                                                << "https://HOST"
                                                << "" << 200;
        QTest::newRow("the base address's origin") << "import"
                                                   << "http://school.test"
                                                   << "same-origin" << 200;
        QTest::newRow("typed into the address bar") << "import"
                                                    << ""
                                                    << "none" << 200;
        QTest::newRow("another site") << "import"
                                      << "http://evil.test"
                                      << "cross-site" << 403;
        QTest::newRow("another site, Origin alone") << "import"
                                                    << "http://evil.test"
                                                    << "" << 403;
        QTest::newRow("another port") << "import"
                                      << "http://127.0.0.1:1"
                                      << "" << 403;
        QTest::newRow("a sandboxed frame") << "import"
                                           << "null"
                                           << "" << 403;
        QTest::newRow("a sibling site") << "import"
                                        << ""
                                        << "same-site" << 403;
        QTest::newRow("restore") << "restore"
                                 << "http://evil.test"
                                 << "cross-site" << 403;
        QTest::newRow("check") << "import/check"
                               << "http://evil.test"
                               << "cross-site" << 403;
        QTest::newRow("a route added later") << "remove"
                                             << "http://evil.test"
                                             << "cross-site" << 403;
    }
    void crossOriginTeacherPostsAreRefused()
    {
        QFETCH(QString, route);
        QFETCH(QString, origin);
        QFETCH(QString, fetchSite);
        QFETCH(int, status);
        const ClassKeys keys = addClass(store(), "３年２組");
        ServerProcess server(store());
        QVERIFY(server.start());
        httplib::Headers headers;
        if (!origin.isEmpty())
            headers.emplace("Origin", origin.replace("HOST", QString("127.0.0.1:%1").arg(server.port)).toStdString());
        if (!fetchSite.isEmpty())
            headers.emplace("Sec-Fetch-Site", fetchSite.toStdString());
        const Answer a = request(server.port, "POST", "/api/v1/teachers/" + keys.teacher + "/" + route.toStdString(),
                                 rankingFile(75, 0, record("a", 7)).toStdString(), {}, headers);
        QCOMPARE(a.status, status);
        if (status == 403)
            QCOMPARE(QByteArray::fromStdString(a.body), QByteArray(R"({"error":"cross-origin request"})"));
        QCOMPARE(teacherView(server.port, keys).image.isEmpty(), status != 200);
    }
};

QTEST_GUILESS_MAIN(ServerRequestsTest)
#include "tst_serverrequests.moc"

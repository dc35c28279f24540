// SPDX-License-Identifier: GPL-3.0-or-later
// The class round as the server plays it, over SQLite and PostgreSQL: the Api driven in the
// test's own process on a clock the test sets (ApiOptions.clock), so that every time is the
// test's and none the machine's speed. A round started once at a time, joins before its start
// and rejoins after, the points the server gives by its clock and the device's allowance, the
// first answer kept, a round's entry checked and stored once, and the round in what the class
// gets wrong.
#include "server_fixture.h"

#include "server/api.h"
#include "server/encoding.h"
#include "server/mistakes.h"

#include "rules/class_round.h"

using namespace serverfixture;
using server::Request;

namespace {

constexpr std::int64_t epoch = 1'800'000'000'000; // the test's clock starts here

// The right button of each question of a round from `seed` in `range`.
std::vector<int> rightButtons(std::uint32_t seed, int range)
{
    const auto log = std::get<gamelog::GameLog>(gamelog::parse(playedgame::logScoring(seed, range, 50)));
    std::vector<int> buttons;
    for (const gamelog::Answer& a : log.answers)
        buttons.push_back(a.button);
    return buttons;
}

// A class in a store of its own, its Api on the test's clock.
struct Round {
    std::unique_ptr<server::Store> store;
    std::unique_ptr<server::Api> api;
    std::int64_t clock = epoch;
    std::string pupils = server::newKey(), teacher = server::newKey();

    Round(Stores& stores, const QString& kind)
    {
        store = kind == "postgresql" ? server::openPostgresStore(stores.postgres.url().toStdString())
                                     : server::openSqliteStore(stores.data->path().toStdString());
        store->addClass({0, "１組", pupils, teacher, {}});
        server::ApiOptions options;
        options.base = "http://school.test/";
        options.clock = [this] { return clock; };
        api = std::make_unique<server::Api>(*store, options);
    }
    // A pupil's round call (rest after the class's key) from `device`; its status and body.
    // (receivedAt: when the HTTP layer had it, if it says.)
    std::pair<int, QJsonObject> pupil(const std::string& rest, const std::string& body = {},
                                      const std::string& device = "device-one", std::int64_t receivedAt = 0)
    {
        const server::Response r = api->handle({body.empty() ? "GET" : "POST",
                                                "/api/v1/classes/" + pupils + "/" + rest,
                                                body,
                                                "10.1.0.1",
                                                device,
                                                {},
                                                "school.test",
                                                {},
                                                receivedAt});
        return {r.status, QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object()};
    }
    std::pair<int, QJsonObject> board(const std::string& body = {})
    {
        const server::Response r = api->handle({body.empty() ? "GET" : "POST",
                                                "/api/v1/teachers/" + teacher + "/round",
                                                body,
                                                "10.1.0.2",
                                                {},
                                                {},
                                                "school.test",
                                                {}});
        return {r.status, QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object()};
    }
    // Joins `device` to the latest round, measuring a round trip of `trip` ms; the answer's body.
    QJsonObject join(const std::string& device, std::int64_t trip)
    {
        const QJsonObject read = pupil("round", {}, device).second;
        clock += trip;
        const std::string body = "{\"number\":" + std::to_string(read["round"].toObject()["number"].toInt())
                                 + ",\"t\":" + std::to_string(std::int64_t(read["t"].toDouble())) + ",\"mark\":\""
                                 + read["mark"].toString().toStdString() + "\",\"name\":\"たろう\"}";
        return pupil("round/join", body, device).second;
    }
    std::int64_t start() { return std::int64_t(board().second["round"].toObject()["start"].toDouble()); }
};

} // namespace

class ServerRoundsTest : public QObject {
    Q_OBJECT

    Stores stores;

private slots:
    void initTestCase() { stores.start(); }

    // One round under way at a time; joins until its start, then only the devices joined.
    void roundsStartAndAreJoinedOnce_data() { Stores::rows(); }
    void roundsStartAndAreJoinedOnce()
    {
        QFETCH(QString, kind);
        QVERIFY(stores.fresh(kind));
        Round r(stores, kind);
        QCOMPARE(r.board("{\"range\":1}").first, 200);
        QCOMPARE(r.board("{\"range\":2}").first, 409);
        QCOMPARE(r.join("device-one", 40)["joined"].toBool(), true);
        r.clock = r.start();
        QCOMPARE(r.pupil("round/join", "{\"number\":1}", "device-two").first, 409);
        QCOMPARE(r.pupil("round/join", "{\"number\":1}").first, 200); // a reload rejoining
        QCOMPARE(r.pupil("round/join", "{\"number\":2}").first, 404);
        QCOMPARE(r.pupil("round/join", "{\"number\":1}", "").first, 400);
        QCOMPARE(r.board().second["round"].toObject()["joined"].toInt(), 1);
        r.clock = classround::roundEnd({r.start(), question::tickMilliseconds});
        const auto next = r.board("{\"range\":2}");
        QCOMPARE(next.first, 200);
        QCOMPARE(next.second["round"].toObject()["number"].toInt(), 2);
    }

    // The points of an answer to question 1 received `at` ms after it showed (and handled
    // `waited` ms later), from a device whose round trip measured `trip` ms; whatever else the
    // body claims is not read.
    void answersScoreByTheServersClock_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("trip");
        QTest::addColumn<int>("at");
        QTest::addColumn<bool>("right");
        QTest::addColumn<QString>("claims");
        QTest::addColumn<int>("points");
        QTest::addColumn<bool>("counted");
        QTest::addColumn<int>("waited");
        const int length = int(classround::questionLength(question::tickMilliseconds));
        for (const char* kind : {"sqlite", "postgresql"}) {
            const auto row = [&](const char* name) -> QTestData& {
                return QTest::newRow(qPrintable(QString("%1: %2").arg(kind, name))) << QString(kind);
            };
            row("at once") << 0 << 0 << true << "" << 10 << true << 0;
            row("after a tick") << 0 << 2500 << true << "" << 9 << true << 0;
            row("the allowance takes off half the round trip") << 1200 << 2500 << true << "" << 10 << true << 0;
            row("the allowance is capped") << 4000 << 3500 << true << "" << 9 << true << 0;
            row("a wrong button scores nothing") << 0 << 0 << false << "" << 0 << true << 0;
            row("a claimed time and points are ignored")
                << 0 << 4100 << true << ",\"points\":10,\"time\":1" << 8 << true << 0;
            row("after the question's end: not counted") << 0 << length << true << "" << 0 << false << 0;
            row("within the allowance of the end: counted, at 0")
                << 1200 << length + 100 << true << "" << 0 << true << 0;
            row("timed as received, not as a handler took it") << 0 << 1500 << true << "" << 10 << true << 1000;
        }
    }
    void answersScoreByTheServersClock()
    {
        QFETCH(QString, kind);
        QFETCH(int, trip);
        QFETCH(int, at);
        QFETCH(bool, right);
        QFETCH(QString, claims);
        QFETCH(int, points);
        QFETCH(bool, counted);
        QFETCH(int, waited);
        QVERIFY(stores.fresh(kind));
        Round r(stores, kind);
        QCOMPARE(r.board("{\"range\":1}").first, 200);
        r.join("device-one", trip);
        const QJsonObject round = r.pupil("round").second["round"].toObject();
        const int button = rightButtons(std::uint32_t(round["seed"].toDouble()), 1)[1];
        const classround::Schedule schedule{std::int64_t(round["start"].toDouble()), question::tickMilliseconds};
        r.clock = classround::questionStart(schedule, 1) + at + waited;
        const auto [status, answer] =
            r.pupil("round/answers",
                    "{\"number\":1,\"question\":1,\"button\":" + std::to_string(right ? button : (button + 1) % 3)
                        + claims.toStdString() + "}",
                    "device-one", waited ? r.clock - waited : 0);
        QCOMPARE(status, 200);
        QCOMPARE(answer["points"].toInt(), points);
        QCOMPARE(answer["counted"].toBool(), counted);
        QCOMPARE(answer["right"].toBool(), right);
        // A second answer to the question keeps the first.
        r.clock = classround::questionStart(schedule, 1);
        QCOMPARE(
            r.pupil("round/answers", "{\"number\":1,\"question\":1,\"button\":" + std::to_string(button) + "}").second,
            answer);
        const QJsonArray ranking = r.board().second.value("round").toObject().value("ranking").toArray();
        QCOMPARE(ranking.size(), 1);
        QCOMPARE(ranking.at(0).toObject().value("points").toInt(), points);
    }

    // A round's entry: after the round, by the score the server gave, stored once; and the
    // round counted in what the class gets wrong.
    void roundEntriesAreTheServersScore_data() { Stores::rows(); }
    void roundEntriesAreTheServersScore()
    {
        QFETCH(QString, kind);
        QVERIFY(stores.fresh(kind));
        Round r(stores, kind);
        QCOMPARE(r.board("{\"range\":0}").first, 200);
        r.join("device-one", 0);
        const QJsonObject round = r.pupil("round").second["round"].toObject();
        const classround::Schedule schedule{std::int64_t(round["start"].toDouble()), question::tickMilliseconds};
        const std::vector<int> right = rightButtons(std::uint32_t(round["seed"].toDouble()), 0);
        for (const int q : {0, 2}) {
            r.clock = classround::questionStart(schedule, q);
            QCOMPARE(r.pupil("round/answers", "{\"number\":1,\"question\":" + std::to_string(q)
                                                  + ",\"button\":" + std::to_string(right[std::size_t(q)]) + "}")
                         .second["points"]
                         .toInt(),
                     10);
        }
        const auto entry = [&](int score) {
            return r
                .pupil("entries", "{\"id\":\"any-id-123\",\"range\":0,\"score\":" + std::to_string(score)
                                      + ",\"name\":\"たろう\",\"round\":1}")
                .first;
        };
        QCOMPARE(entry(20), 422); // the round not over
        r.clock = classround::roundEnd(schedule);
        QCOMPARE(entry(30), 422);
        QCOMPARE(entry(20), 200);
        QCOMPARE(entry(20), 200);
        const std::vector<server::EntryRow> entries = r.store->entries(1);
        QCOMPARE(entries.size(), std::size_t(1));
        QCOMPARE(entries[0].id, "r1-device-one");
        QCOMPARE(entries[0].score, 20);
        const auto mistakes = server::classMistakes(*r.store, 1, std::time(nullptr));
        QCOMPARE(mistakes.back().second.games, 1);
        int answered = 0, timedOut = 0;
        for (int s = 0; s < server::relationCount; ++s) {
            timedOut += mistakes.back().second.timedOut[std::size_t(s)];
            for (const int n : mistakes.back().second.answered[std::size_t(s)])
                answered += n;
        }
        QCOMPARE(answered, 2);
        QCOMPARE(timedOut, 3);
    }
};

QTEST_GUILESS_MAIN(ServerRoundsTest)
#include "tst_server_rounds.moc"

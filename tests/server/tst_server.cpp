// SPDX-License-Identifier: GPL-3.0-or-later
// The class server as pupils' devices and a teacher meet it: the real nubora1-server on a
// loopback port, over SQLite in a temporary folder and over a PostgreSQL cluster of the test's
// own. Each scenario is a row per store. The expected bytes of tavon.rnk are written from the
// file's format (support/ranking_bytes.h: 12-byte records, a Shift-JIS name padded with spaces,
// then the score low byte first), not with the game library.
#include "server/api.h"
#include "server/routes.h"
#include "server/store.h"
#include "server_fixture.h"
#include "support/ranking_bytes.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <latch>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace serverfixture;
using rankingbytes::blankRecords;
using rankingbytes::record;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Saves sent one after another from a thread of its own, save i by send(i), until stopped:
// which were acknowledged, and how often each status came.
class SaveStream {
public:
    explicit SaveStream(std::function<Answer(int)> send)
        : thread([this, send] {
              for (int i = 0; !stopping; ++i) {
                  const int status = send(i).status;
                  std::lock_guard lock(mutex);
                  ++statuses[status];
                  if (status == 200)
                      acknowledged.push_back(i);
                  changed.notify_all();
              }
          })
    {
    }
    ~SaveStream() { stop(); }

    // Whether `condition` (asked while the stream waits) came true within two minutes.
    bool waitFor(const std::function<bool()>& condition)
    {
        std::unique_lock lock(mutex);
        if (changed.wait_for(lock, std::chrono::minutes(2), condition))
            return true;
        for (const auto& [status, count] : statuses)
            qWarning("status %d: %d times", status, count);
        return false;
    }
    void stop()
    {
        stopping = true;
        if (thread.joinable())
            thread.join();
    }

    std::vector<int> acknowledged;
    std::map<int, int> statuses;

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> stopping = false;
    std::thread thread; // last, so that all it uses is there before it starts
};

} // namespace

class ServerTest : public QObject {
    Q_OBJECT

    PostgresCluster postgres;
    bool postgresUp = false;
    std::unique_ptr<QTemporaryDir> data;

    QStringList store(const QString& kind) const
    {
        return kind == "postgresql" ? QStringList{"--database", postgres.url()} : QStringList{"--data", data->path()};
    }
    static void stores()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!program().isEmpty(), "NUBORA_SERVER names no nubora1-server (CTest sets it)");
        postgresUp = postgres.start();
    }
    void init()
    {
        data = std::make_unique<QTemporaryDir>();
        if (QString(QTest::currentDataTag()) == "postgresql")
            QVERIFY2(postgresUp,
                     "no PostgreSQL cluster could be started (initdb/pg_ctl of postgresql-15 as a plain user)");
    }

    // Guards against the server writing a list other than the desktop's Save would: two devices
    // save in turn, and the class's file holds both, byte for byte.
    void twoDevicesShareOneList_data() { stores(); }
    void twoDevicesShareOneList()
    {
        QFETCH(QString, kind);
        const ClassKeys keys = addClass(store(kind), "３年２組");
        QVERIFY(!keys.pupils.empty());
        ServerProcess server(store(kind));
        QVERIFY(server.start());
        QCOMPARE(save(server.port, keys, "device-a-1", 1, 30, "たろう", "10.0.0.1").status, 200);
        const Answer read = request(server.port, "GET", "/api/v1/classes/" + keys.pupils);
        QCOMPARE(json(read)["name"].toString(), QString("３年２組"));
        const Answer second = save(server.port, keys, "device-b-1", 1, 40, "はなこ", "10.0.0.2");
        QCOMPARE(second.status, 200);
        const QByteArray expected = blankRecords(5) + record("\x82\xCD\x82\xC8\x82\xB1", 40)
                                    + record("\x82\xBD\x82\xEB\x82\xA4", 30) + blankRecords(68);
        QCOMPARE(QByteArray::fromBase64(json(second)["image"].toString().toLatin1()), expected);
        const Answer file = request(server.port, "GET", "/api/v1/teachers/" + keys.teacher + "/tavon.rnk");
        QCOMPARE(QByteArray::fromStdString(file.body), expected);
        // The teacher loads that file again: 900 bytes, past a pupil's 512.
        QCOMPARE(request(server.port, "POST", "/api/v1/teachers/" + keys.teacher + "/import", file.body).status, 200);
        // The same entry sent again (the device never heard the answer) stores nothing more.
        QCOMPARE(save(server.port, keys, "device-a-1", 1, 30, "たろう", "10.0.0.1").status, 200);
        QCOMPARE(int(teacherView(server.port, keys).entries.size()), 2);
    }

    // Guards against lost updates: forty saves at the same moment (through two server processes
    // on PostgreSQL) leave exactly the best five of each range, and every entry told "saved";
    // and against refusing a class whose forty devices reach the server through one address.
    void fortyPupilsSaveAtOnce_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("oneAddress");
        QTest::newRow("sqlite") << "sqlite" << false;
        QTest::newRow("postgresql") << "postgresql" << false;
        QTest::newRow("sqlite, forty devices behind one address") << "sqlite" << true;
    }
    void fortyPupilsSaveAtOnce()
    {
        QFETCH(QString, kind);
        QFETCH(bool, oneAddress);
        const ClassKeys keys = addClass(store(kind), "３年２組");
        ServerProcess one(store(kind)), two(store(kind));
        QVERIFY(one.start());
        QVERIFY(kind == "sqlite" || two.start());
        std::latch go(40);
        std::vector<Answer> answers(40);
        std::vector<std::thread> pupils;
        for (int i = 0; i < 40; ++i)
            pupils.emplace_back([&, i] {
                const int port = kind == "sqlite" || i % 2 ? one.port : two.port;
                go.arrive_and_wait();
                answers[std::size_t(i)] =
                    save(port, keys, "pupil-" + std::to_string(100 + i), i % 4, 10 + i, "p" + std::to_string(i),
                         "10.1.0." + std::to_string(oneAddress ? 1 : i), "tablet-" + std::to_string(100 + i));
            });
        for (std::thread& t : pupils)
            t.join();
        for (int i = 0; i < 40; ++i)
            QVERIFY2(
                answers[std::size_t(i)].status == 200,
                qPrintable(
                    QString("%1 %2").arg(answers[std::size_t(i)].status).arg(answers[std::size_t(i)].body.c_str())));
        const ClassState state = teacherView(one.port, keys);
        QCOMPARE(int(state.entries.size()), 40);
        QByteArray expected;
        for (int range = 0; range < 4; ++range) {
            std::vector<std::pair<QByteArray, int>> best;
            for (int i = 39 - (3 - range); i >= 0 && best.size() < 5; i -= 4)
                best.emplace_back("p" + QByteArray::number(i), 10 + i);
            expected += rangeRecords(best);
        }
        QCOMPARE(state.image.left(240), expected);
        for (int i = 0; i < 40; ++i)
            QVERIFY(state.entries.count(QString("pupil-%1").arg(100 + i)));
    }

    // Guards against one game counted twice: two entries on one ticket, sent at the same moment
    // (to two server processes on PostgreSQL), store one; the other is told the ticket was used.
    void oneTicketIsUsedOnce_data() { stores(); }
    void oneTicketIsUsedOnce()
    {
        QFETCH(QString, kind);
        const ClassKeys keys = addClass(store(kind), "３年２組");
        ServerProcess one(store(kind)), two(store(kind));
        QVERIFY(one.start());
        QVERIFY(kind == "sqlite" || two.start());
        const std::string ticket = ticketOf(one.port, keys);
        const std::string log = playedgame::logScoring(ticket::parse(ticket)->seed, 1, 30);
        std::latch go(2);
        std::vector<Answer> answers(2);
        std::vector<std::thread> devices;
        for (int i = 0; i < 2; ++i)
            devices.emplace_back([&, i] {
                const std::string n = std::to_string(i);
                go.arrive_and_wait();
                answers[std::size_t(i)] = request(kind == "sqlite" || i == 0 ? one.port : two.port, "POST",
                                                  "/api/v1/classes/" + keys.pupils + "/entries",
                                                  R"({"id":"twin-)" + n + R"(-000","range":1,"score":30,"name":"T)" + n
                                                      + R"(","ticket":")" + ticket + R"(","log":")" + log + R"("})",
                                                  "10.3.0." + n);
            });
        for (std::thread& t : devices)
            t.join();
        QCOMPARE((std::multiset<int>{answers[0].status, answers[1].status}), (std::multiset<int>{200, 422}));
        QCOMPARE(json(answers[answers[0].status == 422 ? 0 : 1])["error"].toString(), QString("ticket already used"));
        QCOMPARE(int(teacherView(one.port, keys).entries.size()), 1);
    }

    // Guards against a save never answered, or answered for another's commit: more threads than
    // a class than any batch holds change the store at once, again and again, so that commits
    // end while others wait for their turn. Every change is told applied, each repeated id not,
    // and every entry is stored.
    void manyThreadsChangeTheStoreAtOnce_data() { stores(); }
    void manyThreadsChangeTheStoreAtOnce()
    {
        QFETCH(QString, kind);
        const std::unique_ptr<server::Store> store = kind == "sqlite"
                                                         ? server::openSqliteStore(data->path().toStdString())
                                                         : server::openPostgresStore(postgres.url().toStdString());
        const std::string key = "threads-" + kind.toStdString() + "-0123456789abcdef";
        store->addClass({0, "３年２組", key, key + "-teacher", "", true});
        const std::int64_t id = store->findClass(key, false)->id;
        constexpr int threads = 64, each = 5;
        std::latch go(threads);
        std::atomic<int> applied{0}, repeated{0};
        std::vector<std::thread> pupils;
        for (int t = 0; t < threads; ++t)
            pupils.emplace_back([&, t] {
                go.arrive_and_wait();
                for (int i = 0; i < each; ++i) {
                    const std::string entry = "entry-" + std::to_string(t * each + i);
                    const server::Change change = server::saveChange(entry, {std::int16_t(t % 4), 10, u"ぬ"}, "ぬ");
                    applied += store->change(id, change, server::timeNow()).applied;
                    repeated += store->change(id, change, server::timeNow()).applied;
                }
            });
        for (std::thread& t : pupils)
            t.join();
        QCOMPARE(applied.load(), threads * each);
        QCOMPARE(repeated.load(), 0);
        QCOMPARE(int(store->entries(id).size()), threads * each);
    }

    // Guards against an acknowledged save lost in a crash or missing from a backup: amid a stream
    // of saves the server is killed (SIGKILL) and started again, or `backup` copies its store
    // and the copy is restored as the manual says (stopped, the WAL removed, copied back,
    // started). Every save acknowledged before the kill or the backup is there, any other is
    // whole or absent, and the lists are what the entries there, in their order, make.
    void acknowledgedSavesSurviveAKillOrABackup_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("backup");
        QTest::newRow("sqlite, killed") << "sqlite" << false;
        QTest::newRow("postgresql, killed") << "postgresql" << false;
        QTest::newRow("sqlite, backed up while saving") << "sqlite" << true;
    }
    void acknowledgedSavesSurviveAKillOrABackup()
    {
        QFETCH(QString, kind);
        QFETCH(bool, backup);
        const ClassKeys keys = addClass(store(kind), "３年２組");
        ServerProcess server(store(kind) << "--no-rate-limits");
        QVERIFY(server.start());
        SaveStream stream([&](int i) {
            return save(server.port, keys, "stream-" + std::to_string(i), i % 4, (i * 7) % 51, "s" + std::to_string(i),
                        "10.2." + std::to_string(i / 200) + "." + std::to_string(i % 200));
        });
        QVERIFY(stream.waitFor([&] { return stream.acknowledged.size() >= 25; }));
        std::vector<int> acknowledged;
        if (backup) {
            const QString file = data->filePath("backup.sqlite");
            QVERIFY(stream.waitFor([&] { return acknowledged = stream.acknowledged, true; }));
            QVERIFY(command({"backup", file, "--data", data->path()}));
            QCOMPARE((QFile::permissions(file) & 0x0077).toInt(), 0); // it holds the classes' keys
            QVERIFY(stream.waitFor([&] { return stream.acknowledged.size() >= acknowledged.size() + 5; }));
            server.kill();
            stream.stop();
            for (const char* name : {"nubora1.sqlite", "nubora1.sqlite-wal", "nubora1.sqlite-shm"})
                QFile::remove(data->filePath(name));
            QVERIFY(QFile::copy(file, data->filePath("nubora1.sqlite")));
        } else {
            server.kill();
            stream.stop();
            acknowledged = stream.acknowledged;
        }
        QVERIFY(server.start());
        const ClassState state = teacherView(server.port, keys);
        for (const int i : acknowledged)
            QVERIFY2(state.entries.count(QString("stream-%1").arg(i)),
                     qPrintable(QString("acknowledged entry %1 lost").arg(i)));
        std::vector<std::vector<std::pair<QByteArray, int>>> entered(4);
        for (const QJsonValue e :
             json(request(server.port, "GET", "/api/v1/teachers/" + keys.teacher))["entries"].toArray()) {
            const int i = e["id"].toString().mid(7).toInt();
            QCOMPARE(e["range"].toInt(), i % 4);
            QCOMPARE(e["score"].toInt(), (i * 7) % 51);
            entered[std::size_t(i % 4)].emplace_back("s" + QByteArray::number(i), (i * 7) % 51);
        }
        QByteArray expected;
        for (const auto& range : entered)
            expected += rangeRecords(range);
        QCOMPARE(state.image.left(240), expected);
    }

    // Guards against a save told "saved" (or a 500) while PostgreSQL is down, and against a
    // server that stays broken after it comes back.
    void postgresStoppedAndStartedUnderLoad()
    {
        QVERIFY2(postgresUp, "no PostgreSQL cluster");
        const ClassKeys keys = addClass(store("postgresql"), "３年２組");
        ServerProcess server(store("postgresql") << "--no-rate-limits");
        QVERIFY(server.start());
        SaveStream stream([&](int i) {
            return save(server.port, keys, "load-" + std::to_string(1000 + i), i % 4, i % 51, "l",
                        "10.3." + std::to_string(i / 200) + "." + std::to_string(i % 200));
        });
        QVERIFY(stream.waitFor([&] { return stream.acknowledged.size() >= 5; }));
        QVERIFY(postgres.down());
        QVERIFY(stream.waitFor([&] { return stream.statuses[503] >= 5; }));
        const std::size_t before = stream.acknowledged.size();
        QVERIFY(postgres.up());
        QVERIFY(stream.waitFor([&] { return stream.acknowledged.size() >= before + 5; }));
        stream.stop();
        QCOMPARE(int(stream.statuses.size()), 2); // 200 and 503 only
        const ClassState state = teacherView(server.port, keys);
        for (const int i : stream.acknowledged)
            QVERIFY(state.entries.count(QString("load-%1").arg(1000 + i)));
    }

    // Guards against the request handler breaking its promises on the fuzz target's seeds, and
    // against a route of the table that Api::handle does not reach: each route sent with no
    // body (an input of its first byte alone), which the fuzz target checks is answered
    // neither 404 nor 405.
    void fuzzSeedsKeepTheHandlersPromises_data()
    {
        QTest::addColumn<QByteArray>("input");
        const QString corpus = QFINDTESTDATA("../../fuzz/server_corpus");
        for (const QFileInfo& file : QDir(corpus).entryInfoList(QDir::Files, QDir::Name)) {
            QFile f(file.filePath());
            QVERIFY(f.open(QIODevice::ReadOnly));
            QTest::newRow(qPrintable(file.fileName())) << f.readAll();
        }
        const int count = int(server::routes.size());
        for (int i = 0; i < count; ++i) {
            const server::Route& route = server::routes[std::size_t(i)];
            const int first = 0x80 + (i - 0x80 % count + count) % count; // first % count == i
            QTest::newRow(qPrintable(QString("route %1 %2")
                                         .arg(route.method == server::Method::post ? "POST" : "GET")
                                         .arg(QString::fromStdString(server::routePath(
                                             route, route.side == server::Side::pupils ? "{c}" : "{t}")))))
                << QByteArray(1, char(first));
        }
    }
    void fuzzSeedsKeepTheHandlersPromises()
    {
        QFETCH(QByteArray, input);
        QCOMPARE(
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.constData()), std::size_t(input.size())),
            0);
    }
};

QTEST_GUILESS_MAIN(ServerTest)
#include "tst_server.moc"

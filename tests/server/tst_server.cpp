// SPDX-License-Identifier: GPL-3.0-or-later
// The class server as pupils' devices and a teacher meet it: the real nubora1-server on a
// loopback port, over SQLite in a temporary folder and over a PostgreSQL cluster of the test's
// own. Each scenario is a row per store. The expected bytes of tavon.rnk are written from the
// file's format (support/ranking_bytes.h: 12-byte records, a Shift-JIS name padded with spaces,
// then the score low byte first), not with the game library.
#include "server_fixture.h"
#include "support/ranking_bytes.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <latch>
#include <map>
#include <mutex>
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


// `serve` of the program at `path` on a loopback port, its standard error kept apart: the port
// once it listens (0 when it never does), and what it said on standard error by then.
struct Serving {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    int port = 0;
    QString errors;
    ~Serving()
    {
        process->kill();
        process->waitForFinished(30000);
    }
};
void serve(Serving& s, const QString& path, const QStringList& args)
{
    s.process->start(path, QStringList{"serve", "--listen", "127.0.0.1:0"} + args);
    QByteArray out;
    while (!s.port && s.process->waitForReadyRead(30000)) {
        out += s.process->readAllStandardOutput();
        const QRegularExpressionMatch m = QRegularExpression("listening on http://127.0.0.1:(\\d+)/").match(out);
        s.port = m.hasMatch() ? m.captured(1).toInt() : 0;
    }
    s.errors = QString::fromUtf8(s.process->readAllStandardError());
}

// What a terminal shows of `text` (SGR 0, 30 and 47 understood; two rows of pixels a cell,
// as the half blocks split it), as a PGM picture scaled 4 times for a QR decoder, with the
// terminal's own colours `foreground` on `background` where none is set.
QByteArray terminalPicture(const QString& text, int foreground, int background)
{
    std::vector<std::vector<int>> rows;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        std::vector<int> top, bottom;
        int fg = foreground, bg = background;
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (line[i] == '\x1b') {
                const qsizetype end = line.indexOf('m', i);
                for (const QString& code : line.mid(i + 2, end - i - 2).split(';')) {
                    if (code.isEmpty() || code == "0")
                        fg = foreground, bg = background;
                    else if (code == "30")
                        fg = 0;
                    else if (code == "47")
                        bg = 229; // xterm's white, a light grey
                }
                i = end;
                continue;
            }
            top.push_back(line[i] == QChar(0x2588) || line[i] == QChar(0x2580) ? fg : bg);
            bottom.push_back(line[i] == QChar(0x2588) || line[i] == QChar(0x2584) ? fg : bg);
        }
        rows.push_back(top), rows.push_back(bottom);
    }
    const int scale = 4, width = int(rows.at(0).size());
    QByteArray pgm = "P5 " + QByteArray::number(width * scale) + " " + QByteArray::number(int(rows.size()) * scale) + " 255\n";
    for (const std::vector<int>& row : rows)
        for (int copy = 0; copy < scale; ++copy)
            for (const int pixel : row)
                pgm += QByteArray(scale, char(pixel));
    return pgm;
}

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
            QVERIFY2(postgresUp, "no PostgreSQL cluster could be started (initdb/pg_ctl of postgresql-15 as a plain user)");
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
        const QByteArray expected = blankRecords(5) + record("\x82\xCD\x82\xC8\x82\xB1", 40) + record("\x82\xBD\x82\xEB\x82\xA4", 30)
                                    + blankRecords(68);
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
                answers[std::size_t(i)] = save(port, keys, "pupil-" + std::to_string(100 + i), i % 4, 10 + i,
                                               "p" + std::to_string(i), "10.1.0." + std::to_string(oneAddress ? 1 : i),
                                               "tablet-" + std::to_string(100 + i));
            });
        for (std::thread& t : pupils)
            t.join();
        for (int i = 0; i < 40; ++i)
            QVERIFY2(answers[std::size_t(i)].status == 200, qPrintable(QString("%1 %2").arg(answers[std::size_t(i)].status).arg(answers[std::size_t(i)].body.c_str())));
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
            QVERIFY2(state.entries.count(QString("stream-%1").arg(i)), qPrintable(QString("acknowledged entry %1 lost").arg(i)));
        std::vector<std::vector<std::pair<QByteArray, int>>> entered(4);
        for (const QJsonValue e : json(request(server.port, "GET", "/api/v1/teachers/" + keys.teacher))["entries"].toArray()) {
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

    // Guards against the pupils' links answering 404 with nothing said: the server finds the
    // site `make site` or `make web` made in a folder above it (here a copy of the program in a
    // folder of the test's), and says on standard error when it serves none.
    void siteIsFoundOrSaidMissing_data()
    {
        QTest::addColumn<QString>("site");     // index.html's path under the folder above the program
        QTest::addColumn<QString>("option");   // --site's value, under the same folder
        QTest::addColumn<bool>("served");
        QTest::addColumn<QString>("said");
        QTest::newRow("make site's folder") << "build-site/nubora1-web-" NUBORA1_VERSION "/index.html" << "" << true << "";
        QTest::newRow("make web's folder") << "build-web/index.html" << "" << true << "";
        QTest::newRow("another version's site") << "build-site/nubora1-web-0.1/index.html" << "" << false << "found no site";
        QTest::newRow("no site") << "" << "" << false << "found no site";
        QTest::newRow("--site without index.html") << "build-web/index.html" << "empty" << false << "holds no index.html";
    }
    void siteIsFoundOrSaidMissing()
    {
        QFETCH(QString, site);
        QFETCH(QString, option);
        QFETCH(bool, served);
        QFETCH(QString, said);
        const QDir top(data->path());
        QVERIFY(top.mkpath("build") && top.mkpath("empty"));
        const QString copy = top.filePath("build/nubora1-server");
        QVERIFY(QFile::copy(program(), copy));
        QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner));
        if (!site.isEmpty()) {
            QVERIFY(top.mkpath(QFileInfo(site).path()));
            QFile page(top.filePath(site));
            QVERIFY(page.open(QIODevice::WriteOnly) && page.write("<title>nubora1</title>") > 0);
        }
        const ClassKeys keys = addClass({"--data", top.filePath("classes")}, "３年２組");
        Serving server;
        serve(server, copy, QStringList{"--data", top.filePath("classes")} + (option.isEmpty() ? QStringList{} : QStringList{"--site", top.filePath(option)}));
        QVERIFY2(server.port, qPrintable(server.errors));
        const Answer page = request(server.port, "GET", "/c/" + keys.pupils + "/");
        QCOMPARE(page.status, served ? 200 : 404);
        QCOMPARE(page.body == "<title>nubora1</title>", served);
        QVERIFY2(said.isEmpty() ? !server.errors.contains("site") : server.errors.contains(said), qPrintable(server.errors));
    }

    // Guards against a QR code that scans on one terminal only: `class add`'s code, drawn as a
    // dark and a light terminal show it, decodes to the pupils' link, and keeps its light
    // quiet zone of 4 modules (2 lines, 4 columns) on both.
    void terminalCodeScansOnLightAndDarkTerminals_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<int>("foreground"); // the terminal's own colours
        QTest::addColumn<int>("background");
        QTest::newRow("dark terminal") << "http://school.test/" << 229 << 0;
        QTest::newRow("light terminal") << "http://school.test/" << 0 << 255;
        QTest::newRow("light terminal, long link") << "https://nubora.school.example/mathematics/3nen/" << 40 << 250;
        QTest::newRow("dark terminal, long link") << "https://nubora.school.example/mathematics/3nen/" << 255 << 30;
    }
    void terminalCodeScansOnLightAndDarkTerminals()
    {
        QFETCH(QString, base);
        QFETCH(int, foreground);
        QFETCH(int, background);
        QVERIFY2(!QStandardPaths::findExecutable("zbarimg").isEmpty(), "no zbarimg (zbar-tools; scripts/setup.sh --tests)");
        const std::optional<QString> out = command(QStringList{"class", "add", "３年２組", "--url", base} + store("sqlite"));
        QVERIFY(out);
        const qsizetype link = out->indexOf("生徒のリンク: "), code = out->indexOf('\n', out->indexOf("先生のリンク: ")) + 1;
        QVERIFY(link >= 0 && code > 0);
        const QString pupils = out->mid(link + 8, out->indexOf('\n', link) - link - 8);
        QVERIFY(pupils.startsWith(base + "c/"));
        const QByteArray pgm = terminalPicture(out->mid(code), foreground, background);
        const QList<QByteArray> header = pgm.left(pgm.indexOf('\n')).split(' ');
        const int width = header[1].toInt(), height = header[2].toInt(), start = int(pgm.indexOf('\n')) + 1;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (y < 16 || y >= height - 16 || x < 16 || x >= width - 16) // the quiet zone: 4 modules of 4 pixels
                    QVERIFY2(uchar(pgm[start + y * width + x]) > 200, qPrintable(QString("dark at %1,%2").arg(x).arg(y)));
        QProcess zbar;
        zbar.start("zbarimg", {"--raw", "-q", "-"});
        zbar.write(pgm);
        zbar.closeWriteChannel();
        QVERIFY(zbar.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), pupils);
    }

    // Guards against the request handler breaking its promises on the fuzz target's seeds.
    void fuzzSeedsKeepTheHandlersPromises_data()
    {
        QTest::addColumn<QString>("path");
        const QString corpus = QFINDTESTDATA("../../fuzz/server_corpus");
        for (const QFileInfo& file : QDir(corpus).entryInfoList(QDir::Files, QDir::Name))
            QTest::newRow(qPrintable(file.fileName())) << file.filePath();
    }
    void fuzzSeedsKeepTheHandlersPromises()
    {
        QFETCH(QString, path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())), 0);
    }
};

QTEST_GUILESS_MAIN(ServerTest)
#include "tst_server.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The class server's storage as a teacher and the machine meet it: taking an entry down and
// putting it back, restoring the lists from before a 初期化 or an import without losing what
// came after, the teacher's say over pupils' 初期化, a bounded history, a version-1 database
// upgraded in place, a server started on a disk it cannot write, and a database private to
// the server. The real nubora1-server over SQLite and PostgreSQL, as in tst_server.
#include "server_fixture.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace serverfixture;
using rankingbytes::blankRecords;

namespace {

std::string teacherPath(const ClassKeys& keys, const std::string& rest = {})
{
    return "/api/v1/teachers/" + keys.teacher + (rest.empty() ? "" : "/" + rest);
}

// "C45 A40" as the (name, score) pairs of range 0's places, best first.
std::vector<std::pair<QByteArray, int>> places(const QString& text)
{
    std::vector<std::pair<QByteArray, int>> list;
    for (const QString& each : text.split(' ', Qt::SkipEmptyParts))
        list.emplace_back(each.left(1).toLatin1(), each.mid(1).toInt());
    return list;
}

int mode(const QString& path)
{
    struct stat s {};
    return ::stat(QFile::encodeName(path).constData(), &s) == 0 ? int(s.st_mode & 07777) : -1;
}

bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Adds a row per store for a scenario: its steps, the lists they leave, the entries taken down
// and the entries the lists' rows name.
void both(const char* name, const char* steps, const char* lists, const char* removed, const char* named)
{
    for (const char* kind : {"sqlite", "postgresql"})
        QTest::newRow(qPrintable(QString("%1: %2").arg(kind, name)))
            << QString(kind) << QString(steps) << QString(lists) << QString(removed) << QString(named);
}

} // namespace

class ServerStoreTest : public QObject {
    Q_OBJECT

    Stores stores;

private slots:
    void initTestCase()
    {
        QVERIFY2(!program().isEmpty(), "NUBORA_SERVER names no nubora1-server (CTest sets it)");
        stores.start();
    }

    // Guards against the teacher's changes losing entries: entries saved (A40 is A's 40 in
    // range 0), a pupil's 初期化, the teacher's import, restore of the Nth oldest past state,
    // an entry taken down (-A) and put back (+A). The class's lists, its entries' marks and the
    // CSV's column must say the same, and each row of the lists names the entry it shows.
    void teacherChangesKeepLaterEntries_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("lists");   // range 0's places, best first
        QTest::addColumn<QString>("removed"); // the names of the entries taken down
        QTest::addColumn<QString>("named");   // the entry each filled row of range 0 names, - for none
        both("restore before 初期化 keeps later entries", "A40 B30 blank C45 restore0", "C45 A40 B30", "", "C A B");
        both("restore before an import keeps later entries", "A40 B30 import C45 restore0", "C45 A40 B30", "", "C A B");
        both("an entry taken down: the ones below move up", "A40 B30 C20 -B", "A40 C20", "B", "A C");
        both("an entry put back takes its place again", "A40 B30 C20 -A +A", "A40 B30 C20", "", "A B C");
        both("taken down after a restore", "A40 B30 blank C45 restore0 -A", "C45 B30", "A", "C B");
        both("taken down, it stays out of a restore", "A40 B30 -B blank C45 restore0", "C45 A40", "B", "C A");
        both("a restore undone keeps later entries", "A40 blank B30 restore0 D35 restore1", "D35 B30", "", "D B");
        both("taken down before a 初期化: the blank lists stay", "A40 blank -A", "", "A", "");
        both("an imported row is no saved entry's", "A40 import B30", "Z50 B30", "", "- B");
    }
    void teacherChangesKeepLaterEntries()
    {
        QFETCH(QString, kind);
        QFETCH(QString, steps);
        QFETCH(QString, lists);
        QFETCH(QString, removed);
        QFETCH(QString, named);
        QVERIFY(stores.fresh(kind));
        const ClassKeys keys = addClass(stores.args(kind), "３年２組");
        ServerProcess server(stores.args(kind));
        QVERIFY(server.start());
        int n = 0;
        for (const QString& step : steps.split(' ')) {
            const std::string from = "10.7.0." + std::to_string(++n), name = step.mid(1).toStdString();
            Answer a;
            if (step == "blank")
                a = request(server.port, "POST", "/api/v1/classes/" + keys.pupils + "/blank",
                            "{\"id\":\"blank-id-" + std::to_string(n) + "\"}", from);
            else if (step == "import")
                a = request(server.port, "POST", teacherPath(keys, "import"),
                            (rangeRecords({{"Z", 50}}) + blankRecords(70)).toStdString(), from);
            else if (step.startsWith("restore")) {
                const QJsonArray history = json(request(server.port, "GET", teacherPath(keys)))["history"].toArray();
                const int number = history.at(step.mid(7).toInt())["number"].toInt();
                a = request(server.port, "POST", teacherPath(keys, "restore"),
                            "{\"history\":" + std::to_string(number) + "}", from);
            } else if (step[0] == '-' || step[0] == '+')
                a = request(server.port, "POST", teacherPath(keys, step[0] == '-' ? "remove" : "reinstate"),
                            "{\"id\":\"entry-" + name + "-id\"}", from);
            else
                a = save(server.port, keys, "entry-" + step.left(1).toStdString() + "-id", 0, step.mid(1).toInt(),
                         step.left(1).toStdString(), from);
            QVERIFY2(a.status == 200,
                     qPrintable(step + ": " + QString::number(a.status) + " " + QString::fromStdString(a.body)));
        }
        const ClassState state = teacherView(server.port, keys);
        QCOMPARE(state.image.left(60), rangeRecords(places(lists)));
        const QJsonObject page = json(request(server.port, "GET", teacherPath(keys)));
        QStringList marked;
        for (const QJsonValue e : page["entries"].toArray()) {
            QVERIFY(e["removed"].isBool());
            if (e["removed"].toBool())
                marked << e["name"].toString();
        }
        QCOMPARE(marked.join(' '), removed);
        QStringList rows;
        for (const QJsonValue r : page["lists"].toArray().at(0)["rows"].toArray())
            if (!r["name"].toString().isEmpty())
                rows << (r["entry"].isString() ? r["entry"].toString().remove("entry-").remove("-id") : "-");
        QCOMPARE(rows.join(' '), named);
        const QString csv = QString::fromStdString(request(server.port, "GET", teacherPath(keys, "entries.csv")).body);
        QVERIFY(csv.contains("\"名前\",\"取り消し\"\r\n"));
        for (const QString& name : QStringList{"A", "B", "C", "D"})
            QCOMPARE(csv.contains(QString(",\"%1\",\"取り消し済み\"").arg(name)), removed.contains(name));
    }

    // Guards against a pupil's 初期化 clearing a class whose teacher said no, and against the
    // teacher's setting not holding.
    void pupilsBlankFollowsTheTeacher_data() { Stores::rows(); }
    void pupilsBlankFollowsTheTeacher()
    {
        QFETCH(QString, kind);
        QVERIFY(stores.fresh(kind));
        const ClassKeys keys = addClass(stores.args(kind), "３年２組");
        ServerProcess server(stores.args(kind));
        QVERIFY(server.start());
        QCOMPARE(save(server.port, keys, "entry-one", 0, 40, "A", "10.8.0.1").status, 200);
        const auto blank = [&](const std::string& id) {
            return request(server.port, "POST", "/api/v1/classes/" + keys.pupils + "/blank", "{\"id\":\"" + id + "\"}",
                           "10.8.0.2");
        };
        const auto setting = [&]() -> QJsonValue {
            return json(request(server.port, "GET", teacherPath(keys)))["settings"].toObject()["pupilsBlank"];
        };
        QCOMPARE(setting(), QJsonValue(true));
        QCOMPARE(request(server.port, "POST", teacherPath(keys, "settings"), R"({"pupilsBlank":"no"})").status, 400);
        QCOMPARE(request(server.port, "POST", teacherPath(keys, "settings"), R"({"pupilsBlank":false})").status, 200);
        QCOMPARE(setting(), QJsonValue(false));
        const Answer refused = blank("blank-one");
        QCOMPARE(refused.status, 403);
        QCOMPARE(QByteArray::fromStdString(refused.body),
                 QByteArray("{\"error\":\"only the teacher clears this class's lists\"}"));
        ClassState state = teacherView(server.port, keys);
        QCOMPARE(state.image.left(60), rangeRecords({{"A", 40}}));
        QCOMPARE(state.history, 0);
        QCOMPARE(request(server.port, "POST", teacherPath(keys, "settings"), R"({"pupilsBlank":true})").status, 200);
        QCOMPARE(blank("blank-two").status, 200);
        state = teacherView(server.port, keys);
        QCOMPARE(state.image.left(60), blankRecords(5));
        QCOMPARE(state.history, 1);
    }

    // Guards against 初期化 pressed again and again: a class's pupils blank its lists a few
    // times, then are refused for a while (429, kept in their queues); the history keeps its
    // newest states only, however many come (unlimited here).
    void blanksAreBounded_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("limits");
        QTest::newRow("sqlite: pupils' 初期化 limited per class") << "sqlite" << true;
        QTest::newRow("sqlite: history keeps the newest") << "sqlite" << false;
        QTest::newRow("postgresql: history keeps the newest") << "postgresql" << false;
    }
    void blanksAreBounded()
    {
        QFETCH(QString, kind);
        QFETCH(bool, limits);
        QVERIFY(stores.fresh(kind));
        const ClassKeys keys = addClass(stores.args(kind), "３年２組");
        ServerProcess server(stores.args(kind) << (limits ? QStringList() : QStringList{"--no-rate-limits"}));
        QVERIFY(server.start());
        const int sent = limits ? 8 : 70;
        int blanked = 0;
        for (int i = 0; i < sent; ++i) {
            const std::string from = "10.9." + std::to_string(i / 200) + "." + std::to_string(i % 200);
            const int status = request(server.port, "POST", "/api/v1/classes/" + keys.pupils + "/blank",
                                       "{\"id\":\"blank-" + std::to_string(1000 + i) + "\"}", from)
                                   .status;
            QVERIFY(status == 200 || (limits && status == 429));
            blanked += status == 200;
        }
        const QJsonArray history = json(request(server.port, "GET", teacherPath(keys)))["history"].toArray();
        if (limits) {
            QVERIFY(blanked >= 1 && blanked <= 4);
            QCOMPARE(int(history.size()), blanked);
            return;
        }
        QVERIFY(history.size() >= 10 && history.size() <= 50);
        QCOMPARE(history.last()["id"].toString(), QString("blank-%1").arg(1000 + sent - 1));
        QCOMPARE(history.first()["id"].toString(), QString("blank-%1").arg(1000 + sent - int(history.size())));
    }

    // Guards against an upgrade losing a class: a version-1 database (as the first release
    // wrote it) with a class of two entries is served, and its entries can be taken down.
    void upgradesVersionOneInPlace_data() { Stores::rows(); }
    void upgradesVersionOneInPlace()
    {
        QFETCH(QString, kind);
        QVERIFY(stores.fresh(kind));
        const bool pg = kind == "postgresql";
        const QString serial = pg ? "BIGSERIAL" : "INTEGER", blob = pg ? "BYTEA" : "BLOB";
        const QString pupils(22, 'p'), teacher(22, 't');
        const auto hash = [](const QString& key) {
            return QCryptographicHash::hash(key.toLatin1(), QCryptographicHash::Sha256).toHex();
        };
        const QByteArray image = (rangeRecords({{"A", 40}, {"B", 30}}) + blankRecords(70)).toHex();
        const QString bytes = pg ? "decode('" + image + "', 'hex')" : "X'" + image + "'";
        // The first release's schema, a class of two entries and one of 60 past states.
        const QString sql =
            QString("CREATE TABLE schema_version (version INTEGER NOT NULL); INSERT INTO schema_version VALUES (1);"
                    "CREATE TABLE settings (name TEXT PRIMARY KEY, value TEXT NOT NULL);"
                    "CREATE TABLE classes (id SERIAL PRIMARY KEY, name TEXT NOT NULL, class_key TEXT NOT NULL,"
                    " teacher_key TEXT NOT NULL, class_hash TEXT NOT NULL UNIQUE, teacher_hash TEXT NOT NULL UNIQUE,"
                    " image BLOB NOT NULL);"
                    "CREATE TABLE entries (seq SERIAL PRIMARY KEY,"
                    " class_id BIGINT NOT NULL REFERENCES classes(id) ON DELETE CASCADE, client_id TEXT NOT NULL,"
                    " time TEXT NOT NULL, hani INTEGER NOT NULL, tensu INTEGER NOT NULL, name TEXT NOT NULL,"
                    " UNIQUE (class_id, client_id));"
                    "CREATE TABLE history (number SERIAL PRIMARY KEY,"
                    " class_id BIGINT NOT NULL REFERENCES classes(id) ON DELETE CASCADE, client_id TEXT,"
                    " time TEXT NOT NULL, what TEXT NOT NULL, image BLOB NOT NULL, UNIQUE (class_id, client_id));"
                    "INSERT INTO classes (name, class_key, teacher_key, class_hash, teacher_hash, image) VALUES"
                    " ('３年２組', 'PUPILS', 'TEACHER', 'HASH1', 'HASH2', IMAGE),"
                    " ('３年３組', 'OTHER1', 'OTHER2', 'HASH3', 'HASH4', IMAGE);"
                    "INSERT INTO entries (class_id, client_id, time, hani, tensu, name) VALUES"
                    " (1, 'entry-A', '2026-12-01T09:00:00Z', 0, 40, 'A'), (1, 'entry-B', '2026-12-01T09:01:00Z', 0, "
                    "30, 'B');"
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60)"
                    " INSERT INTO history (class_id, client_id, time, what, image)"
                    " SELECT 2, 'old-state-' || i, '2026-11-30T09:00:00Z', 'blank', IMAGE FROM n;")
                .replace("SERIAL", serial)
                .replace("BLOB", blob)
                .replace("IMAGE", bytes)
                .replace("HASH1", hash(pupils))
                .replace("HASH2", hash(teacher))
                .replace("HASH3", hash(QString(22, 'q')))
                .replace("HASH4", hash(QString(22, 'u')))
                .replace("PUPILS", pupils)
                .replace("TEACHER", teacher)
                .replace("OTHER1", QString(22, 'q'))
                .replace("OTHER2", QString(22, 'u'));
        if (pg)
            QVERIFY(stores.postgres.psql(sql));
        else
            QVERIFY(run("sqlite3", {stores.data->filePath("nubora1.sqlite"), sql}));
        const ClassKeys keys{pupils.toStdString(), teacher.toStdString()};
        ServerProcess server(stores.args(kind));
        QVERIFY(server.start());
        ClassState state = teacherView(server.port, keys);
        QCOMPARE(int(state.entries.size()), 2);
        QCOMPARE(state.image.left(60), rangeRecords({{"A", 40}, {"B", 30}}));
        QCOMPARE(request(server.port, "POST", teacherPath(keys, "remove"), R"({"id":"entry-A"})").status, 200);
        QCOMPARE(teacherView(server.port, keys).image.left(60), rangeRecords({{"B", 30}}));
        QCOMPARE(save(server.port, keys, "entry-C-id", 0, 35, "C", "10.10.0.1").status, 200);
        QCOMPARE(teacherView(server.port, keys).image.left(60), rangeRecords({{"C", 35}, {"B", 30}}));
        const QJsonArray history =
            json(request(server.port, "GET", "/api/v1/teachers/" + std::string(22, 'u')))["history"].toArray();
        QVERIFY(history.size() >= 10 && history.size() <= 50);
        QCOMPARE(history.last()["id"].toString(), QString("old-state-60"));
    }

    // Guards against a server that will not start, or answers saves wrongly, on a data folder
    // it cannot write: it serves the lists and answers saves 503, and says why on stderr.
    void startsOnADiskItCannotWrite_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("read-only data folder") << "read-only";
        QTest::newRow("full disk") << "full";
    }
    void startsOnADiskItCannotWrite()
    {
        QFETCH(QString, fault);
        QVERIFY(stores.fresh("sqlite"));
        const bool root = ::geteuid() == 0;
        if (fault == "full" && !root)
            QSKIP("a full disk is imitated with a small tmpfs, which only root can mount");
        const QString dir = stores.data->filePath("d");
        QVERIFY(QDir().mkpath(dir));
        bool mounted = false;
        const auto unmount = qScopeGuard([&] {
            if (mounted)
                ::umount2(QFile::encodeName(dir).constData(), MNT_DETACH);
            QFile(dir).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        if (fault == "full") {
            QVERIFY(run("mount", {"-t", "tmpfs", "-o", "size=512k", "tmpfs", dir}));
            mounted = true;
        }
        const ClassKeys keys = addClass({"--data", dir}, "３年２組");
        ServerProcess first({"--data", dir});
        QVERIFY(first.start());
        QCOMPARE(save(first.port, keys, "entry-A-id", 0, 40, "A", "10.11.0.1").status, 200);
        first.kill(); // the entry still in the WAL
        if (fault == "full") {
            QFile filler(dir + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        } else if (root) { // root writes whatever the modes say: a read-only bind of the folder
            if (!run("mount", {"--bind", dir, dir}))
                QSKIP("root, and no read-only bind mount allowed here: a read-only folder cannot be imitated");
            mounted = true;
            QVERIFY(run("mount", {"-o", "remount,ro,bind", dir}));
        } else {
            QVERIFY(QFile(dir).setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        }
        ServerProcess server({"--data", dir});
        server.errorLog = stores.data->filePath("stderr");
        QVERIFY(server.start());
        const Answer read = request(server.port, "GET", "/api/v1/classes/" + keys.pupils);
        QCOMPARE(read.status, 200);
        QCOMPARE(QByteArray::fromBase64(json(read)["image"].toString().toLatin1()).left(60), rangeRecords({{"A", 40}}));
        QCOMPARE(teacherView(server.port, keys).entries.size(), std::size_t(1));
        const Answer saved = save(server.port, keys, "entry-B-id", 0, 30, "B", "10.11.0.2");
        QCOMPARE(saved.status, 503);
        QCOMPARE(json(saved)["error"].toString(), QString("database unavailable"));
        QFile log(server.errorLog);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray said = log.readAll();
        QVERIFY2(said.contains(fault == "full" ? "full" : "cannot write"), said.constData());
    }

    // Guards against a database others on the machine can read: whatever the umask, the folder
    // is 0700 and the database's files 0600, a folder and file made before included.
    void databaseIsPrivate_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::newRow("new folder, umask 022") << false;
        QTest::newRow("a 0755 folder and 0644 file made before, umask 022") << true;
    }
    void databaseIsPrivate()
    {
        QFETCH(bool, existing);
        QVERIFY(stores.fresh("sqlite"));
        const QString dir = stores.data->filePath("d");
        const mode_t before = ::umask(022);
        const auto restore = qScopeGuard([&] { ::umask(before); });
        if (existing) {
            QVERIFY(QDir().mkpath(dir));
            QFile f(dir + "/nubora1.sqlite");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.close();
            QCOMPARE(mode(dir), 0755);
            QCOMPARE(mode(dir + "/nubora1.sqlite"), 0644);
        }
        const ClassKeys keys = addClass({"--data", dir}, "３年２組");
        ServerProcess server({"--data", dir});
        QVERIFY(server.start());
        QCOMPARE(save(server.port, keys, "entry-A-id", 0, 40, "A", "10.12.0.1").status, 200);
        QCOMPARE(mode(dir), 0700);
        for (const char* suffix : {"", "-wal", "-shm"})
            QCOMPARE(mode(dir + "/nubora1.sqlite" + suffix), 0600);
    }
};

QTEST_GUILESS_MAIN(ServerStoreTest)
#include "tst_server_store.moc"

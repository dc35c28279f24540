// SPDX-License-Identifier: GPL-3.0-or-later
// What the class gets wrong, as its teacher reads it: games played on tickets of known seeds
// (their questions' relations fixed by the game's draw) answered as scripted, then the teacher's
// JSON and CSV; where today and this week begin in the school's time zone, and the CSV's times
// in that zone. The real
// nubora1-server over SQLite and PostgreSQL, as in tst_server.
#include "server_fixture.h"

#include "server/mistakes.h"
#include "server/teacher.h"
#include "server/tickets.h"

#include <QDateTime>
#include <QProcess>
#include <QTest>

#include <cstdlib>
#include <ctime>

using namespace serverfixture;

namespace {

const QString secret = "a secret of the test";

// SQL statements on the store's database.
bool sql(Stores& stores, const QString& kind, const QString& statements)
{
    if (kind == "postgresql")
        return stores.postgres.psql(statements);
    QProcess p;
    p.start("sqlite3", {stores.data->filePath("nubora1.sqlite"), statements});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The process's time zone set to `zone` for the guard's life.
struct InZone {
    QByteArray before = qgetenv("TZ");
    explicit InZone(const QByteArray& zone)
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~InZone()
    {
        qputenv("TZ", before);
        tzset();
    }
    InZone(const InZone&) = delete;
    InZone& operator=(const InZone&) = delete;
};

} // namespace

class ServerMistakesTest : public QObject {
    Q_OBJECT

    Stores stores;

private slots:
    void initTestCase()
    {
        QVERIFY2(!program().isEmpty(), "NUBORA_SERVER names no nubora1-server (CTest sets it)");
        stores.start();
    }

    // Guards against answers counted under the wrong relation, the square proportion and the
    // quadratic told apart, time-outs lost, or a period that takes in older games. A game is
    // "SEED:B,B,B,B,B", the buttons pressed (t: a time-out), sent now; "old" ones were stored
    // in 2020. The seeds' relations (0 比例, 1 反比例, 2 一次関数, 3 square, 4 quadratic):
    // 9: 0 0 1 1 3; 11: 0 1 1 4 2; 37: 3 1 0 0 2. A table is "games|row|row|row|row" for
    // 比例, 反比例, 一次関数, その他 shown, each the counts named 比例, 反比例, 一次関数, その他
    // and the time-outs.
    void classMistakesCounted_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("games");
        QTest::addColumn<QString>("today"); // this week's is the same: every game sent is of now
        QTest::addColumn<QString>("all");
        QTest::newRow("sqlite: right answers on the diagonal") << "sqlite"
                                                               << "9:0,0,1,1,4"
                                                               << "1|2,0,0,0,0|0,2,0,0,0|0,0,0,0,0|0,0,0,1,0"
                                                               << "1|2,0,0,0,0|0,2,0,0,0|0,0,0,0,0|0,0,0,1,0";
        for (const char* kind : {"sqlite", "postgresql"})
            QTest::newRow(qPrintable(QString(kind) + ": wrong answers, time-outs, an old game"))
                << kind << "11:2,0,1,t,2 37:4,1,2,0,0 old9:t,t,t,t,t"
                << "2|1,0,2,0,0|1,2,0,0,0|1,0,1,0,0|0,0,0,1,1"
                << "3|1,0,2,0,2|1,2,0,0,2|1,0,1,0,0|0,0,0,1,2";
    }
    void classMistakesCounted()
    {
        QFETCH(QString, kind);
        QFETCH(QString, games);
        QFETCH(QString, today);
        QFETCH(QString, all);
        QVERIFY(stores.fresh(kind));
        const ClassKeys keys = addClass(stores.args(kind), "３年２組");
        QVERIFY(sql(stores, kind,
                    "DELETE FROM settings WHERE name = 'ticket-secret';"
                    "INSERT INTO settings (name, value) VALUES ('ticket-secret', '"
                        + secret + "');"));
        ServerProcess server(stores.args(kind));
        QVERIFY(server.start());
        const std::optional<ticket::Ticket> issued = ticket::parse(ticketOf(server.port, keys));
        QVERIFY(issued);
        const server::TicketDesk desk(secret.toStdString());
        int n = 0;
        for (const QString& game : games.split(' ', Qt::SkipEmptyParts)) {
            const QStringList parts = game.split(':');
            QStringList answers;
            for (const QString& button : parts[1].split(','))
                answers << (button == "t" ? button : button + "@10");
            const std::string log = "1;0;" + answers.join(',').toStdString();
            if (parts[0].startsWith("old")) {
                QVERIFY(sql(stores, kind,
                            QString("INSERT INTO games (class_id, ticket, time, seed, hani, tensu, log) VALUES "
                                    "(%1, 'old-%2', '2020-01-06T08:00:00Z', %3, 0, 0, '%4');")
                                .arg(issued->classId)
                                .arg(++n)
                                .arg(parts[0].mid(3))
                                .arg(QString::fromStdString(log))));
                continue;
            }
            ticket::Ticket t = *issued;
            t.seed = parts[0].toUInt();
            t.nonce = std::string(ticket::tokenLength - 1, 'n') + char('a' + ++n);
            t.mark = desk.mark(t);
            const Answer a = request(server.port, "POST", "/api/v1/classes/" + keys.pupils + "/games",
                                     R"({"ticket":")" + ticket::write(t) + R"(","log":")" + log + R"("})",
                                     "10.13.0." + std::to_string(n));
            QVERIFY2(a.status == 200, qPrintable(game + ": " + QString::fromStdString(a.body)));
        }
        const QJsonObject mistakes =
            json(request(server.port, "GET", "/api/v1/teachers/" + keys.teacher))["mistakes"].toObject();
        QCOMPARE(mistakes["relations"].toArray().toVariantList(),
                 QVariantList({"比例", "反比例", "一次関数", "その他"}));
        const QJsonArray periods = mistakes["periods"].toArray();
        QCOMPARE(periods.size(), 3);
        const Answer csv = request(server.port, "GET", "/api/v1/teachers/" + keys.teacher + "/mistakes.csv");
        QCOMPARE(csv.status, 200);
        QStringList expectedCsv{
            "\xEF\xBB\xBF\"期間\",\"出題\",\"比例と答えた\",\"反比例と答えた\",\"一次関数と答えた\","
            "\"その他と答えた\",\"時間切れ\",\"出題数\""};
        const QStringList names{"今日", "今週", "これまで"}, relations{"比例", "反比例", "一次関数", "その他"};
        for (int p = 0; p < 3; ++p) {
            const QStringList table = (p < 2 ? today : all).split('|');
            QCOMPARE(periods[p]["name"].toString(), names[p]);
            QCOMPARE(periods[p]["games"].toInt(), table[0].toInt());
            QStringList rows;
            for (const QJsonValue row : periods[p]["rows"].toArray()) {
                QStringList counts;
                for (const QJsonValue count : row.toArray())
                    counts << QString::number(count.toInt(-1));
                rows << counts.join(',');
            }
            QCOMPARE(rows, table.mid(1));
            for (int s = 0; s < 4; ++s) {
                int shown = 0;
                for (const QString& count : table[s + 1].split(','))
                    shown += count.toInt();
                expectedCsv << QString("\"%1\",\"%2\",%3,%4").arg(names[p], relations[s], table[s + 1]).arg(shown);
            }
        }
        QCOMPARE(QString::fromStdString(csv.body).split("\r\n"), expectedCsv << "");
    }

    // Guards against periods cut in UTC, on a Sunday, or an hour off across a change of summer
    // time: where today and this week (from Monday) begin, at a moment, in a time zone.
    void periodsBeginAtLocalMidnight_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("today");
        QTest::addColumn<QString>("week");
        QTest::newRow("Tokyo, a Thursday afternoon") << QByteArray("Asia/Tokyo") << "2026-12-10T05:15:47Z"
                                                     << "2026-12-09T15:00:00Z"
                                                     << "2026-12-06T15:00:00Z";
        QTest::newRow("Tokyo, Monday just after midnight") << QByteArray("Asia/Tokyo") << "2026-12-06T15:00:01Z"
                                                           << "2026-12-06T15:00:00Z"
                                                           << "2026-12-06T15:00:00Z";
        QTest::newRow("Tokyo, Sunday just before midnight") << QByteArray("Asia/Tokyo") << "2026-12-06T14:59:59Z"
                                                            << "2026-12-05T15:00:00Z"
                                                            << "2026-11-29T15:00:00Z";
        QTest::newRow("Berlin, the Sunday summer time begins") << QByteArray("Europe/Berlin") << "2026-03-29T12:00:00Z"
                                                               << "2026-03-28T23:00:00Z"
                                                               << "2026-03-22T23:00:00Z";
        QTest::newRow("Berlin, the Tuesday after") << QByteArray("Europe/Berlin") << "2026-03-31T08:00:00Z"
                                                   << "2026-03-30T22:00:00Z"
                                                   << "2026-03-29T22:00:00Z";
    }
    void periodsBeginAtLocalMidnight()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, now);
        QFETCH(QString, today);
        QFETCH(QString, week);
        const InZone inZone(zone);
        const std::array<server::Period, 3> periods =
            server::periodsAt(std::time_t(QDateTime::fromString(now, Qt::ISODate).toSecsSinceEpoch()));
        QCOMPARE(QString::fromStdString(periods[0].since), today);
        QCOMPARE(QString::fromStdString(periods[1].since), week);
        QCOMPARE(QString::fromStdString(periods[2].since), QString());
    }

    // Guards against the entries' CSV showing the stored UTC, a wrong offset or the day before
    // in the school's zone: each stored time in the server's local time, with its offset.
    void csvTimesInTheSchoolsZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Tokyo, the afternoon") << QByteArray("Asia/Tokyo") << "2026-12-11T07:05:00Z"
                                              << "2026-12-11 16:05:00+09:00";
        QTest::newRow("Tokyo, UTC's day before") << QByteArray("Asia/Tokyo") << "2026-12-10T15:00:00Z"
                                                 << "2026-12-11 00:00:00+09:00";
        QTest::newRow("Berlin, before summer time") << QByteArray("Europe/Berlin") << "2026-03-29T00:59:59Z"
                                                    << "2026-03-29 01:59:59+01:00";
        QTest::newRow("Berlin, in summer time") << QByteArray("Europe/Berlin") << "2026-03-29T01:00:00Z"
                                                << "2026-03-29 03:00:00+02:00";
        QTest::newRow("New York, behind UTC") << QByteArray("America/New_York") << "2026-12-11T03:04:05Z"
                                              << "2026-12-10 22:04:05-05:00";
        QTest::newRow("Kolkata, half an hour") << QByteArray("Asia/Kolkata") << "2026-12-11T07:05:00Z"
                                               << "2026-12-11 12:35:00+05:30";
        QTest::newRow("no time, as it is") << QByteArray("Asia/Tokyo") << "2026-12-11 07:05"
                                           << "2026-12-11 07:05";
    }
    void csvTimesInTheSchoolsZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        const InZone inZone(zone);
        const std::string csv = server::entriesCsv({{"entry-1", stored.toStdString(), 0, 35, "はなこ", false, 1}});
        const QString line = QString::fromStdString(csv).section("\r\n", 1, 1);
        QCOMPARE(line.section(',', 0, 0), '"' + shown + '"');
        QVERIFY2(line.endsWith(",35,\"はなこ\",\"\""), qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(ServerMistakesTest)
#include "tst_server_mistakes.moc"

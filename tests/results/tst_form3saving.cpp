// SPDX-License-Identifier: GPL-3.0-or-later
// The results window on a class link: the class's lists saved, cleared and read on a class
// server (a canned one, or the real nubora1-server), the desktop beside the class's pages.
#include "classlink/class_ranking.h"
#include "game/form1.h"
#include "support/canned_server.h"
#include "support/class_server.h"
#include "support/ranking_bytes.h"
#include "support/results_fixture.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

#include <signal.h>
#include <unistd.h>

using namespace resultsfixture;
using rankingbytes::blankRecords;
using rankingbytes::record;

class Form3SavingTest : public ResultsFixture {
    Q_OBJECT

private slots:
    // Guards against a class link sending the lists to another address than the server's API.
    void classLinkNamesTheApi_data();
    void classLinkNamesTheApi();

    // On the class server (the test class_server_desktop runs these with NUBORA_SERVER set to
    // nubora1-server; without it they are skipped):
    // Guards against a window on a class link saving or clearing anything but the class's
    // lists on the class server, against an entry lost, or said not saved, when the server
    // cannot be reached, answers 500 or a proxy answers for it, against a refused entry kept for
    // ever or lost, against a request that does not name the device, and against a dead server
    // hanging the window. (Its canned rows run without nubora1-server.)
    void classLinkKeepsTheListsOnTheServer_data();
    void classLinkKeepsTheListsOnTheServer();

    // Guards against the class's lists read wrong, against an entry kept on the PC lost, sent
    // only at the next opening, or, sent again, standing twice in the class's lists or entries,
    // against an opening without the network showing other lists than the class's as last
    // seen, and against a game started before the first tickets came drawn on no ticket.
    void desktopSharesTheRealServersList();

    // Run by web_page's class-link row, skipped otherwise: the window saves NUBORA_CLASS_SAVE
    // ("name score", in range 0) on the class link NUBORA_CLASS_LINK beside the row's pages,
    // then shows the class's lists, which it prints for the row to compare.
    void desktopSavesBesideThePages();

private:
    // Opens the window after a game of tensu points in range hani (played as `played`, where
    // given) and saves `name` by Enter.
    void save(int tensu, int hani, const QString& name, const std::optional<classlink::PlayedGame>& played = {})
    {
        Form3& form = openResults(tensu, hani);
        form.played = played;
        typeThenSaveOrClear(form, name, false);
        QVERIFY(!wiring->resultsExist());
    }
    // The names of range hani as a viewing opening shows them; 戻る closes it.
    QStringList viewedNames(int hani)
    {
        Form3& viewing = openResults(0, hani);
        const QStringList names = captions(viewing.namae);
        QTest::mouseClick(viewing.Command1, Qt::LeftButton);
        return names;
    }
    void writeLink(const QByteArray& link) { QVERIFY(rankingbytes::writeFile(dir->programDir + "/tavon.class", link)); }
    // The class's outbox, or its stock of tickets, on the PC.
    QString kept(const QString& key, const char* what = ".outbox") const
    {
        return dir->fallbackDir + "/classes/" + key + what;
    }
    classlink::Outbox outbox(const QString& key, const char* what = ".outbox") const
    {
        return classlink::Outbox(kept(key, what));
    }
};

void Form3SavingTest::classLinkKeepsTheListsOnTheServer_data()
{
    // up, down, stopped (takes connections, never answers), unknown (a class it does not know);
    // or a canned answer (CannedServer): "STATUS TYPE BODY".
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("clearing");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("kept"); // entries left in the outbox
    QTest::addColumn<bool>("own"); // the entry went into the player's own tavon.rnk

    const QString waiting = QStringLiteral("成績はこの機器に預けてあります。\rクラスにつながったときに送ります。");
    const QString refused = QStringLiteral("この成績はクラスの一覧に入れられませんでした。\r");
    const QString ownLists = QStringLiteral("\rこの機器の一覧には残っています。");
    QTest::newRow("Enter saves on the server") << "up" << false << "" << 0 << false;
    QTest::newRow("初期化 answered OK blanks the class's lists") << "up" << true << "" << 0 << false;
    QTest::newRow("no network: the entry waits") << "down" << false << waiting << 1 << false;
    QTest::newRow("a server that never answers: the entry waits") << "stopped" << false << waiting << 1 << false;
    QTest::newRow("an unknown class: refused, kept in the own lists")
        << "unknown" << false << refused + "このクラスは、クラスのサーバーにありません。" + ownLists << 0 << true;
    QTest::newRow("the server answers 500: the entry waits")
        << "500 application/json {\"error\":\"internal error\"}" << false << waiting << 1 << false;
    QTest::newRow("a proxy's HTML 404: the entry waits")
        << "404 text/html <html><body>Not Found</body></html>" << false << waiting << 1 << false;
    QTest::newRow("429 too many: the entry waits")
        << "429 application/json {\"error\":\"too many requests\"}" << false << waiting << 1 << false;
    QTest::newRow("the server refuses the name: refused, kept in the own lists")
        << "400 application/json {\"error\":\"name refused\"}" << false
        << refused + "名前か点数を、クラスのサーバーが受け付けませんでした。" + ownLists << 0 << true;
    QTest::newRow("a game the server cannot check: refused, kept in the own lists")
        << "422 application/json {\"error\":\"ticket already used\"}" << false
        << refused + "このゲームは、クラスのサーバーで確かめられませんでした。" + ownLists << 0 << true;
    QTest::newRow("no network at 初期化") << "down" << true << "成績一覧を消去できませんでした。" << 0 << false;
    QTest::newRow("初期化 the teacher turned off")
        << "403 application/json {\"error\":\"only the teacher clears this class's lists\"}" << true
        << "このクラスの一覧は、先生だけが消せます。" << 0 << false;
}

void Form3SavingTest::classLinkKeepsTheListsOnTheServer()
{
    QFETCH(QString, server);
    QFETCH(bool, clearing);
    QFETCH(QString, message);
    QFETCH(int, kept);
    QFETCH(bool, own);

    ClassServer classServer;
    std::unique_ptr<CannedServer> canned;
    QString key = QStringLiteral("Canned_class_key_00000");
    if (server.front().isDigit()) {
        const QStringList answer = server.split(u' ');
        canned =
            std::make_unique<CannedServer>(answer[0].toInt(), answer[1].toLatin1(), answer.mid(2).join(u' ').toUtf8());
        writeLink(canned->link());
    } else {
        if (!classServer.available())
            QSKIP("run by the test class_server_desktop");
        QVERIFY(classServer.start(dir->path(QStringLiteral("server"))));
        key = server == QLatin1String("unknown") ? QStringLiteral("Unknown_class_key_0000") : classServer.key;
        writeLink(classServer.link(key));
    }
    wiring->classOptions().wait = std::chrono::seconds(3);
    wiring->classOptions().retry = std::chrono::minutes(10); // no try again within the row
    Form3& form = openResults(35, 2);
    if (server == QLatin1String("up"))
        form.played = classServer.played(2, 35);
    QCOMPARE(form.namae(0).caption(), QStringLiteral("ここです！"));
    if (server == QLatin1String("down"))
        classServer.stop();
    if (server == QLatin1String("stopped"))
        QCOMPARE(::kill(pid_t(classServer.processId()), SIGSTOP), 0);
    typeThenSaveOrClear(form, "Kim", clearing);

    QStringList said;
    for (const ui::Message& each : fake->messages)
        if (each.icon != ui::Icon::Question) // 初期化's question
            said << each.text;
    QCOMPARE(said, message.isEmpty() ? QStringList() : QStringList{message});
    QVERIFY(!wiring->resultsExist());
    QCOMPARE(QFileInfo::exists(rankingPath()) ? fileBytes().mid(10 * 12, 12) : QByteArray(),
             own ? record("Kim", 35) : QByteArray());
    QCOMPARE(outbox(key).entries().size(), kept);
    if (server == QLatin1String("up")) {
        QCOMPARE(classServer.entries(), clearing ? QStringList() : QStringList{"Kim 2 35"});
        QCOMPARE(classServer.teachers().value("history").toArray().size(), clearing ? 1 : 0);
    }
    if (canned) {
        // Every request names the device by the id kept beside the outboxes.
        QFile id(dir->fallbackDir + QStringLiteral("/classes/device.id"));
        QVERIFY(id.open(QIODevice::ReadOnly));
        const QString device = QString::fromLatin1(id.readAll());
        QVERIFY2(QRegularExpression("^[A-Za-z0-9_-]{22}$").match(device).hasMatch(), qPrintable(device));
        QCOMPARE(canned->heads.size(), 2); // the opening's, then the entry's or the clearing's
        for (const QString& head : canned->heads)
            QVERIFY2((head + "\r\n").contains("\r\nX-Nubora-Device: " + device + "\r\n", Qt::CaseInsensitive),
                     qPrintable(head));
    }
}

void Form3SavingTest::classLinkNamesTheApi_data()
{
    QTest::addColumn<QByteArray>("link");
    QTest::addColumn<QString>("entries"); // the address of a save; empty for no class

    const QString classKey = QStringLiteral("Class3-2_pupilsKey0000");
    const QByteArray key = classKey.toLatin1();
    QTest::newRow("as printed") << "http://host:8080/c/" + key + "/\n"
                                << "http://host:8080/api/v1/classes/" + classKey + "/entries";
    QTest::newRow("below a prefix, after a BOM, with CRLF and no last slash")
        << "\xEF\xBB\xBF\r\n  https://school.example/nubora/c/" + key + "\r\n"
        << "https://school.example/nubora/api/v1/classes/" + classKey + "/entries";
    QTest::newRow("the lines class add printed, kept whole")
        << "３年２組\n生徒のリンク: http://school.test/c/" + key
               + "/\n先生のリンク: http://school.test/t/Teacher_Key_0123456/\n"
        << "http://school.test/api/v1/classes/" + classKey + "/entries";
    QTest::newRow("the teacher's link") << "https://school.example/t/" + key + "/"
                                        << "";
    QTest::newRow("a key too short") << QByteArray("https://school.example/c/short/") << "";
    QTest::newRow("a key a character short") << "https://school.example/c/" + key.left(21) + "/"
                                             << "";
    QTest::newRow("a key a character long") << "https://school.example/c/" + key + "0/"
                                            << "";
    QTest::newRow("a key with a dot") << "https://school.example/c/" + key.left(21) + "./"
                                      << "";
    QTest::newRow("another scheme") << "file:///c/" + key + "/"
                                    << "";
    QTest::newRow("a query") << "https://school.example/c/" + key + "/?x=1"
                             << "";
}

void Form3SavingTest::classLinkNamesTheApi()
{
    QFETCH(QByteArray, link);
    QFETCH(QString, entries);
    const classlink::ClassLink parsed = classlink::parseClassLink(link);
    QCOMPARE(parsed.isValid() ? parsed.api(QStringLiteral("/entries")).toString() : QString(), entries);
}

void Form3SavingTest::desktopSharesTheRealServersList()
{
    ClassServer classServer;
    if (!classServer.available())
        QSKIP("run by the test class_server_desktop");
    QVERIFY(classServer.start(dir->path(QStringLiteral("server"))));
    writeLink(classServer.link());
    wiring->classOptions().retry = std::chrono::milliseconds(100);
    wiring->classOptions().retryMax = std::chrono::seconds(1);
    ui::services().scriptedDraws = false; // スタート before the program's first tickets: one is fetched
    wiring->form1().Command1_Click();
    QCOMPARE(outbox(classServer.key, ".tickets").entries().size(), 19);
    QVERIFY(QFile::remove(kept(classServer.key, ".tickets")));
    const classlink::PlayedGame kim = classServer.played(2, 35), bob = classServer.played(2, 30);
    save(35, 2, "Kim", kim);
    QVERIFY(fake->messages.empty());
    classServer.stop();
    save(30, 2, "Bob", bob);
    QCOMPARE(fake->messages.size(), std::size_t(1));
    QCOMPARE(fake->messages[0].text,
             QStringLiteral("成績はこの機器に預けてあります。\rクラスにつながったときに送ります。"));
    QVERIFY(classServer.start());
    writeLink(classServer.link());
    // Bob's entry goes once the server answers, the lists not opened again.
    QTRY_COMPARE_WITH_TIMEOUT(outbox(classServer.key).entries().size(), 0, 30000);
    QCOMPARE(classServer.entries(), (QStringList{"Kim 2 35", "Bob 2 30"}));
    // Kim's entry once more, as if the answer to its save had been lost.
    const QJsonValue id = classServer.teachers().value("entries")[0]["id"];
    QVERIFY(outbox(classServer.key)
                .add({{"id", id},
                      {"range", 2},
                      {"score", 35},
                      {"name", "Kim"},
                      {"ticket", kim.ticket},
                      {"log", QString::fromStdString(kim.log)}}));
    const QStringList lists{"Kim", "Bob", "", "", ""};
    QCOMPARE(viewedNames(2), lists);
    QCOMPARE(outbox(classServer.key).entries().size(), 0);

    const QByteArray image = QByteArray::fromBase64(
        classServer.get("api/v1/classes/" + classServer.key).value("image").toString().toLatin1());
    QCOMPARE(image.toHex(' '),
             (blankRecords(10) + record("Kim", 35) + record("Bob", 30) + blankRecords(63)).toHex(' '));
    QCOMPARE(classServer.entries(), (QStringList{"Kim 2 35", "Bob 2 30"}));
    // The lists opened fill the PC's stock of tickets, which the games on the class link take.
    QCOMPARE(outbox(classServer.key, ".tickets").entries().size(), 20);
    // A game whose score enters no list goes to the class too, without a name: Kim's, Bob's and it.
    Form3& none = openResults(0, 1);
    none.played = classServer.played(1, 0);
    QTest::mouseClick(none.Command1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(outbox(classServer.key).entries().size(), 0, 30000);
    QCOMPARE(classServer.teachers()["mistakes"].toObject()["periods"].toArray()[2].toObject()["games"].toInt(), 3);
    QCOMPARE(classServer.entries(), (QStringList{"Kim 2 35", "Bob 2 30"}));
    // Without the network, the lists as last seen.
    classServer.stop();
    QCOMPARE(viewedNames(2), lists);
}

void Form3SavingTest::desktopSavesBesideThePages()
{
    const QList<QByteArray> entry = qgetenv("NUBORA_CLASS_SAVE").split(' ');
    if (qEnvironmentVariableIsEmpty("NUBORA_CLASS_LINK") || entry.size() != 2)
        QSKIP("run by web_page's class-link row");
    writeLink(qgetenv("NUBORA_CLASS_LINK"));
    const QUrl api = classlink::parseClassLink(qgetenv("NUBORA_CLASS_LINK")).api();
    save(entry[1].toInt(), 0, QString::fromLatin1(entry[0]),
         serverfixture::playedOn(api.toString(), 0, entry[1].toInt()));
    QVERIFY(fake->messages.empty());
    qInfo("lists: %s", qPrintable(viewedNames(0).join(u',')));
}

QTEST_MAIN(Form3SavingTest)
#include "tst_form3saving.moc"

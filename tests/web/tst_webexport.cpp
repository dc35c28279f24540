// SPDX-License-Identifier: GPL-3.0-or-later
// The web page's download of the ranking file against the desktop program. The page's test
// (export.test.mjs) leaves in NUBORA_WEB_EXPORT_DIR the download, tavon.rnk, and export.json:
// the seed of its game, the answers clicked with the points showing at each click, the name
// typed and the captions of the results window it then opened for viewing. Here the game
// window plays that game with the same seeded draw: it must save the same bytes, and the
// results window must show the page's download as the page showed it.
#include "game/form1.h"
#include "results/form3.h"
#include "rules/module1.h"
#include "rules/seeded_draw.h"
#include "support/game_fixture.h"
#include "support/ranking_bytes.h"

#include <QFile>
#include <QInputMethodEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class WebExportTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void desktopSavesThePagesBytes();
    void desktopShowsTheDownloadAsThePageDid();

private:
    void playAsThePageDid(GameFixture& game);

    QJsonObject page;
    QByteArray download;
};

void WebExportTest::initTestCase()
{
    const QString folder = qEnvironmentVariable("NUBORA_WEB_EXPORT_DIR");
    QVERIFY2(!folder.isEmpty(), "NUBORA_WEB_EXPORT_DIR is unset: run through CTest, after web_page");
    QFile json(folder + QStringLiteral("/export.json"));
    QVERIFY2(json.open(QIODevice::ReadOnly),
             qPrintable(json.fileName() + QStringLiteral(" is missing: web_page writes it")));
    page = QJsonDocument::fromJson(json.readAll()).object();
    QVERIFY(page.contains(QLatin1String("seed")) && page.value(QLatin1String("clicks")).toArray().size() == 5);
    download = rankingbytes::readFile(folder + QStringLiteral("/tavon.rnk"));
    QCOMPARE(download.size(), 900);
}

// The page's game in the game window: its draws, its clicks at the points it showed (the ticks
// its countdown made come first), its name through the input method, then 戻る.
void WebExportTest::playAsThePageDid(GameFixture& game)
{
    ui::services().rnd = question::seededDraw(static_cast<std::uint32_t>(page.value(QLatin1String("seed")).toDouble()));
    Form1& f = game.form();
    QCOMPARE(Module1::hani, page.value(QLatin1String("hani")).toInt());
    const QString name = page.value(QLatin1String("name")).toString();
    game.services().onModal = [&name](ui::Form& shown) {
        auto& results = static_cast<Form3&>(shown);
        QInputMethodEvent composing(QStringLiteral("やまだたろう"), {});
        QCoreApplication::sendEvent(results.Text1, &composing);
        QInputMethodEvent commit;
        commit.setCommitString(name);
        QCoreApplication::sendEvent(results.Text1, &commit);
        QTest::mouseClick(results.Command1, Qt::LeftButton);
    };
    QTest::mouseClick(f.Command1, Qt::LeftButton);
    for (const QJsonValue click : page.value(QLatin1String("clicks")).toArray()) {
        const int points = click[QLatin1String("points")].toInt();
        while (f.Timer1->isRunning() && f.tokuten->caption().trimmed().toInt() > points)
            f.Timer1_Timer();
        QCOMPARE(f.tokuten->caption().trimmed().toInt(), points);
        QTest::mouseClick(&f.kotae(static_cast<std::int16_t>(click[QLatin1String("answer")].toInt())), Qt::LeftButton);
    }
    QCOMPARE(game.services().modalForms, QStringList{QStringLiteral("Form3")});
    QCOMPARE(Module1::tensu, page.value(QLatin1String("total")).toInt());
}

// Guards against the page and the desktop drawing other questions from one seed, or saving
// one game's entry into other bytes (the name's Shift-JIS, its padding, the score, the blanks).
void WebExportTest::desktopSavesThePagesBytes()
{
    GameFixture game;
    playAsThePageDid(game);
    if (QTest::currentTestFailed())
        return;
    const QByteArray saved = rankingbytes::readFile(game.rankingPath());
    QCOMPARE(saved.size(), download.size());
    for (qsizetype at = 0; at < saved.size(); ++at)
        QVERIFY2(saved[at] == download[at], qPrintable(QStringLiteral("the files differ first at byte %1").arg(at)));
}

// Guards against the desktop reading the page's download otherwise than the page shows it.
void WebExportTest::desktopShowsTheDownloadAsThePageDid()
{
    GameFixture game;
    playAsThePageDid(game); // the run's best three are the session's
    if (QTest::currentTestFailed())
        return;
    QVERIFY(rankingbytes::writeFile(game.rankingPath(), download));
    QTest::mouseClick(game.form().tokutenyo, Qt::LeftButton); // the lists for viewing
    GameFixture::settle();
    QVERIFY(game.windows().resultsExist());
    Form3& r = game.windows().form3();
    const QJsonObject shown = page.value(QLatin1String("shown")).toObject();
    QCOMPARE(r.jikan9->caption(), shown.value(QLatin1String("jikan9")).toString());
    QCOMPARE(r.Label6->caption(), shown.value(QLatin1String("Label6")).toString());
    QCOMPARE(!r.Label6->isHidden(), shown.value(QLatin1String("Label6Shown")).toBool());
    QCOMPARE(r.enz0->caption(), shown.value(QLatin1String("enz0")).toString());
    const QJsonArray best = shown.value(QLatin1String("best")).toArray();
    QCOMPARE(best.size(), 5);
    for (std::int16_t i = 0; i < 5; ++i) {
        const QStringList row{r.jyun(i).caption(), r.namae(i).caption(), r.jikan(i).caption()};
        QCOMPARE(row, best[i].toVariant().toStringList());
    }
    const QJsonArray run = shown.value(QLatin1String("run")).toArray();
    QCOMPARE(run.size(), 3);
    for (std::int16_t i = 0; i < 3; ++i)
        QCOMPARE(r.jikan1(i).caption(), run[i].toString());
}

QTEST_MAIN(WebExportTest)
#include "tst_webexport.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The results window on a real ranking file in a temporary directory: what it shows when it
// opens for viewing or with a score to enter, typing the name and saving it with 戻る or Enter,
// the close box, the window that the end of a game opens and waits for, and the class entry
// of a game played in the game window.
#include "classlink/outbox.h"
#include "game/form1.h"
#include "rules/game_replay.h"
#include "rules/module1.h"
#include "rules/ticket.h"
#include "support/game_probes.h"
#include "support/ranking_bytes.h"
#include "support/results_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QPointer>
#include <QTest>

using namespace resultsfixture;
using rankingbytes::blankRecords;
using rankingbytes::record;

class Form3EntryTest : public ResultsFixture {
    Q_OBJECT

private slots:
    // Guards against a viewing opening (or a score already turned away) entering a score,
    // showing the name box, or writing the file on 戻る.
    void viewOnlyOpeningEntersNothingAndWritesNothing_data();
    void viewOnlyOpeningEntersNothingAndWritesNothing();

    // Guards against the new entry shown in the wrong row, a wrong place in the prompt, or the
    // name box hidden or without the focus.
    void enteredScoreShowsMarkPromptAndNameBox_data();
    void enteredScoreShowsMarkPromptAndNameBox();

    // Guards against the typed name missing from its row, 戻る or Enter not saving it, or the
    // name stored beyond 10 bytes.
    void typedNameFollowsIntoRowAndIsSavedOnReturn_data();
    void typedNameFollowsIntoRowAndIsSavedOnReturn();

    // Guards against the close box saving, or keeping the file so that the next opening fails.
    void closeBoxSavesNothingAndReleasesTheFile();

    // Guards against the end of a game not waiting for the window, or an open viewing window
    // keeping its file when a game's window replaces it.
    void gameEndOpensModallyAndSavesOnEnter();

    // Guards against a class entry that the class server cannot replay to the score shown: one
    // without its game's seed and log, or with another game's.
    void classEntryReplaysItsGame_data();
    void classEntryReplaysItsGame();
};

void Form3EntryTest::viewOnlyOpeningEntersNothingAndWritesNothing_data()
{
    QTest::addColumn<int>("tensu");
    QTest::addColumn<int>("touroku");

    QTest::newRow("opened from the menu") << 0 << 0;
    QTest::newRow("game ended with 0") << 0 << 1;
    QTest::newRow("score already missed the best five") << 40 << 1;
}

void Form3EntryTest::viewOnlyOpeningEntersNothingAndWritesNothing()
{
    QFETCH(int, tensu);
    QFETCH(int, touroku);

    // A record past 21 that any save would blank.
    const QByteArray file = usual.left(21 * 12) + record("r22", 22) + blankRecords(53);
    writeRanking(file);
    Module1::touroku = static_cast<std::int16_t>(touroku);
    Module1::anatakiroku[2][0] = 33;

    Form3& form = openResults(tensu, 2);
    QCOMPARE(form.jikan9->caption(), QStringLiteral(" %1").arg(tensu));
    QVERIFY(!form.Label6->isVisibleTo(&form));
    QVERIFY(!form.Text1->isVisibleTo(&form));
    QCOMPARE(form.focusWidget(), form.Command1);
    QCOMPARE(captions(form.namae), (QStringList{"A", "B", "C", "D", "E"}));
    QCOMPARE(captions(form.jikan), (QStringList{"50", "40", "30", "20", "10"}));
    QCOMPARE(captions(form.jikan1), (QStringList{"33", "0", "0"}));

    QTest::mouseClick(form.Command1, Qt::LeftButton);
    QVERIFY(!wiring->resultsExist());
    QVERIFY(!form.rankingFile.isOpen());
    QCOMPARE(fileBytes(), file);
    QCOMPARE(int(Module1::touroku), touroku);
    QCOMPARE(int(Module1::anatakiroku[2][0]), 33);
    QVERIFY(fake->messages.empty());
}

void Form3EntryTest::enteredScoreShowsMarkPromptAndNameBox_data()
{
    QTest::addColumn<QList<int>>("before");
    QTest::addColumn<int>("tensu");
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("names");

    const QString here = QStringLiteral("ここです！");
    QTest::newRow("blank list: place 1") << QList<int>{0, 0, 0, 0, 0} << 30 << 0
                                         << QStringList{here, "A", "B", "C", "D"};
    QTest::newRow("equal to place 2 goes above it")
        << QList<int>{50, 40, 30, 20, 10} << 40 << 1 << QStringList{"A", here, "B", "C", "D"};
    QTest::newRow("place 5 drops the old fifth")
        << QList<int>{50, 40, 30, 20, 10} << 12 << 4 << QStringList{"A", "B", "C", "D", here};
}

void Form3EntryTest::enteredScoreShowsMarkPromptAndNameBox()
{
    QFETCH(QList<int>, before);
    QFETCH(int, tensu);
    QFETCH(int, row);
    QFETCH(QStringList, names);

    writeRanking(fileWithRange2(before));
    Form3& form = openResults(tensu, 2);

    QCOMPARE(captions(form.namae), names);
    QCOMPARE(form.jikan(static_cast<std::int16_t>(row)).caption(), QString::number(tensu));
    QCOMPARE(form.jikan9->caption(), QStringLiteral(" ") + QString::number(tensu));
    QCOMPARE(form.Label6->caption(), QStringLiteral(" %1番です。名前を入力して下さい。").arg(row + 1));
    QVERIFY(form.Label6->isVisibleTo(&form));
    QVERIFY(form.Text1->isVisibleTo(&form));
    QCOMPARE(form.focusWidget(), form.Text1);
    QCOMPARE(int(Module1::touroku), 0);
    QCOMPARE(int(Module1::anatakiroku[2][0]), tensu);
    QCOMPARE(form.enz0->caption(), QStringLiteral("－５～－１"));
}

void Form3EntryTest::typedNameFollowsIntoRowAndIsSavedOnReturn_data()
{
    QTest::addColumn<QString>("how"); // keys, paste, or an input method's composition and commit
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byEnter");
    QTest::addColumn<QString>("shown"); // in the box and the row while typing
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("shownNext");

    const QString qs = QStringLiteral("??????????");
    const QString notInCodePage = QStringLiteral("😀😀😀😀😀ééééé");
    QTest::newRow("ASCII name, 戻る") << "keys"
                                      << "Taro" << false << "Taro" << QByteArray("Taro") << "Taro";
    QTest::newRow("ASCII name, Enter") << "keys"
                                       << "Taro" << true << "Taro" << QByteArray("Taro") << "Taro";
    QTest::newRow("12 letters typed, 10 taken")
        << "keys"
        << "ABCDEFGHIJKL" << true << "ABCDEFGHIJ" << QByteArray("ABCDEFGHIJ") << "ABCDEFGHIJ";
    QTest::newRow("full box takes nothing at the start")
        << "keys, Home, Z"
        << "ABCDEFGHIJ" << true << "ABCDEFGHIJ" << QByteArray("ABCDEFGHIJ") << "ABCDEFGHIJ";
    QTest::newRow("Enter in the empty box") << "keys" << QString() << true << QString() << QByteArray() << QString();
    QTest::newRow("Japanese name") << "ime"
                                   << "やまだ" << true << "やまだ" << QByteArray::fromHex("82e282dc82be") << "やまだ";
    QTest::newRow("8 characters committed, 5 taken")
        << "ime"
        << "やまだ太郎あいう" << true << "やまだ太郎" << QByteArray::fromHex("82e282dc82be91be9859") << "やまだ太郎";
    QTest::newRow("odd byte left empty") << "paste"
                                         << "Aやまだ太郎" << true << "Aやまだ太"
                                         << QByteArray::fromHex("4182e282dc82be91be") << "Aやまだ太";
    QTest::newRow("pasted line break and controls dropped") << "paste"
                                                            << "AB\nCD\tE\x01"
                                                               "F"
                                                            << true << "ABCDEF" << QByteArray("ABCDEF") << "ABCDEF";
    QTest::newRow("combining voiced mark joins its kana")
        << "ime"
        << "か\u3099" << true << "が" << QByteArray::fromHex("82aa") << "が";
    QTest::newRow("characters stored as ? take a byte each")
        << "paste" << notInCodePage + "é" << true << notInCodePage << QByteArray("??????????") << qs;
}

void Form3EntryTest::typedNameFollowsIntoRowAndIsSavedOnReturn()
{
    QFETCH(QString, how);
    QFETCH(QString, typed);
    QFETCH(bool, byEnter);
    QFETCH(QString, shown);
    QFETCH(QByteArray, field);
    QFETCH(QString, shownNext);

    // First opening ever: no file yet.
    Module1::anatakiroku[1][0] = 7;
    Form3& form = openResults(25, 1);
    QCOMPARE(fileBytes().size(), 0);
    if (typed.isEmpty()) {
        QCOMPARE(form.namae(0).caption(), QStringLiteral("ここです！"));
    } else if (how.startsWith(QLatin1String("keys"))) {
        QTest::keyClicks(form.Text1, typed);
        if (how.endsWith(QLatin1String("Home, Z"))) {
            QTest::keyClick(form.Text1, Qt::Key_Home);
            QTest::keyClick(form.Text1, Qt::Key_Z);
        }
    } else if (how == QLatin1String("paste")) {
        QGuiApplication::clipboard()->setText(typed);
        form.Text1->paste();
    } else {
        QInputMethodEvent composing(typed, {});
        QCoreApplication::sendEvent(form.Text1, &composing);
        QCOMPARE(form.Text1->text(), QString()); // composing text is the input method's until committed
        QInputMethodEvent commit;                // the input method hands over the finished text
        commit.setCommitString(typed);
        QCoreApplication::sendEvent(form.Text1, &commit);
    }
    if (!typed.isEmpty()) {
        QCOMPARE(form.Text1->text(), shown);
        QCOMPARE(form.namae(0).caption(), shown);
    }

    if (byEnter)
        QTest::keyClick(form.Text1, Qt::Key_Return);
    else
        QTest::mouseClick(form.Command1, Qt::LeftButton);

    QVERIFY(!wiring->resultsExist());
    QVERIFY(!form.rankingFile.isOpen());
    QVERIFY(fake->messages.empty());
    const QByteArray expected = blankRecords(5) + record(field, 25) + blankRecords(69);
    QCOMPARE(fileBytes().toHex(' '), expected.toHex(' '));

    // The next opening shows the saved entry and the run's scores.
    Form3& again = openResults(0, 1);
    QCOMPARE(again.namae(0).caption(), shownNext);
    QCOMPARE(captions(again.jikan), (QStringList{"25", "0", "0", "0", "0"}));
    QCOMPARE(captions(again.jikan1), (QStringList{"25", "7", "0"}));
}

void Form3EntryTest::closeBoxSavesNothingAndReleasesTheFile()
{
    writeRanking(usual);
    Form3& form = openResults(35, 2);
    QVERIFY(form.rankingFile.isOpen());
    QTest::keyClicks(form.Text1, "Lee");

    form.close(); // the frame's close box
    QVERIFY(!wiring->resultsExist());
    QVERIFY(!form.rankingFile.isOpen());
    QCOMPARE(fileBytes(), usual);
    QVERIFY(fake->messages.empty());

    Form3& again = openResults(0, 2);
    QVERIFY(again.rankingFile.isOpen());
    QCOMPARE(captions(again.namae), (QStringList{"A", "B", "C", "D", "E"}));
}

void Form3EntryTest::gameEndOpensModallyAndSavesOnEnter()
{
    Module1::tensu = 0;
    wiring->showResults(false);
    QPointer<Form3> viewing = &wiring->form3();
    QVERIFY(viewing->rankingFile.isOpen());

    bool viewingReleased = false;
    fake->onModal = [&](ui::Form& shown) {
        viewingReleased = viewing && !viewing->rankingFile.isOpen();
        auto& results = static_cast<Form3&>(shown);
        QTest::keyClicks(results.Text1, "Winner");
        QTest::keyClick(results.Text1, Qt::Key_Return);
    };
    Module1::tensu = 48;
    wiring->showResults(true);

    QCOMPARE(fake->modalForms.size(), std::size_t(1));
    QCOMPARE(fake->modalForms.front(), QStringLiteral("Form3"));
    QVERIFY(viewingReleased);
    QVERIFY(!wiring->resultsExist());
    QCOMPARE(fileBytes().left(12).toHex(' '), record("Winner", 48).toHex(' '));
    QCOMPARE(fileBytes().size(), 900);
}

void Form3EntryTest::classEntryReplaysItsGame_data()
{
    QTest::addColumn<uint>("seed");
    // Per question: r (the right button) or w (a wrong one) after as many ticks as dots before
    // it, or t (a time-out).
    QTest::addColumn<QString>("play");
    QTest::newRow("right at once") << 1u << "r r r r r";
    QTest::newRow("after ticks, a wrong answer, time-outs") << 4000000000u << ".r ...w t ..r t";
    QTest::newRow("a second game: its own seed") << 77u << "r r r r r|..r w .r ...r r";
}

void Form3EntryTest::classEntryReplaysItsGame()
{
    QFETCH(uint, seed);
    QFETCH(QString, play);
    const QString key = QStringLiteral("Class3-2_pupilsKey0000");
    // Nothing listens there: the entry stays in the outbox.
    QVERIFY(
        rankingbytes::writeFile(dir->programDir + "/tavon.class", "http://127.0.0.1:9/c/" + key.toLatin1() + "/\n"));
    ui::services().scriptedDraws = false;
    wiring->showGame();
    Form1& f = wiring->form1();
    int shown = -1;
    fake->onModal = [&](ui::Form& results) {
        auto& r = static_cast<Form3&>(results);
        shown = r.jikan9->caption().trimmed().toInt();
        QTest::keyClicks(r.Text1, "Kim");
        QTest::keyClick(r.Text1, Qt::Key_Return);
    };
    const QStringList games = play.split(u'|');
    // Each game takes the next ticket of the class's stock on the PC: the last game's seed is `seed`.
    QList<QJsonObject> stock;
    for (qsizetype g = 0; g < games.size(); ++g)
        stock.append(
            {{"id", QString::fromStdString(ticket::write({seed + uint(games.size() - 1 - g), 1, 1797392147,
                                                          std::string(22, char('A' + g)), std::string(22, 'M')}))}});
    QVERIFY(classlink::Outbox(dir->fallbackDir + "/classes/" + key + ".tickets").add(stock));
    fake->seed = seed + 1000; // drawn on the PC: no game's
    for (qsizetype g = 0; g < games.size(); ++g) {
        f.Command1_Click();
        for (const QString& question : games[g].split(u' ')) {
            gameprobes::tick(f, question == u't' ? 11 : int(question.count(u'.')));
            const int right = f.model.kankei == 3 ? 4 : f.model.kankei;
            if (question.endsWith(u'r') || question.endsWith(u'w'))
                f.kotae_Click(std::int16_t(question.endsWith(u'r') ? right : (right + 1) % 3));
        }
    }
    const QList<QJsonObject> kept = classlink::Outbox(dir->fallbackDir + "/classes/" + key + ".outbox").entries();
    QCOMPARE(kept.size(), games.size());
    const QJsonObject entry = kept.back();
    QCOMPARE(entry.value("ticket").toString(), stock.back().value("id").toString());
    QVERIFY(!entry.contains("seed"));
    QCOMPARE(shown, int(Module1::tensu));
    QCOMPARE(entry.value("score").toInt(), shown);
    const auto replayed = gamelog::checkEntry(seed, entry.value("log").toString().toStdString(), shown);
    QVERIFY2(std::holds_alternative<gamelog::Replay>(replayed), qPrintable(entry.value("log").toString()));
}

QTEST_MAIN(Form3EntryTest)
#include "tst_form3entry.moc"

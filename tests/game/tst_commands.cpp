// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/module1.h"
#include "app/windows.h"
#include "game/form1.h"
#include "help/form2.h"
#include "results/form3.h"
#include "support/game_fixture.h"
#include "support/ranking_bytes.h"
#include "support/rows.h"

#include <QTest>

using namespace Module1;
using rankingbytes::readFile;

// A ranking file with one entry in the first range, so that any rewrite would show.
static const QByteArray ranking = rankingbytes::record("HANAKO", 40) + rankingbytes::blankRecords(74);

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void viewingTheListsLeavesTheGameAlone_data();
    void viewingTheListsLeavesTheGameAlone();
    void endWritesNothingWhateverIsOpen_data();
    void endWritesNothingWhateverIsOpen();
};

void CommandsTest::viewingTheListsLeavesTheGameAlone_data()
{
    bothWays("byMenu", "menu 一覧", "total button");
}

// Guards against opening the lists mid-game stopping the countdown or entering the running total,
// a second 一覧 opening a second results window, and 戻る of a viewing window rewriting the ranking file.
void CommandsTest::viewingTheListsLeavesTheGameAlone()
{
    QFETCH(bool, byMenu);
    GameFixture game;
    Form1& f = game.form();
    QVERIFY(rankingbytes::writeFile(game.rankingPath(), ranking));
    game.scriptProportionalQuestions(2);
    f.Command1_Click();
    f.kotae_Click(0);
    f.Timer1_Timer();
    tensu = 33;
    if (byMenu)
        f.m1c->trigger();
    else
        f.tokutenyo->click();
    QCOMPARE(tensu, 0);
    QVERIFY(game.windows().resultsExist());
    QVERIFY(game.services().modalForms.isEmpty());
    Form3& lists = game.windows().form3();
    QVERIFY(lists.isVisible());
    QVERIFY(lists.Text1->isHidden());
    QCOMPARE(lists.jikan9->caption(), QStringLiteral(" 0"));
    QVERIFY(f.Timer1->isRunning());
    QCOMPARE(f.tokuten->caption(), QStringLiteral(" 9"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 10"));
    QVERIFY(f.kotae(0).isEnabled());
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 2問"));
    f.tokutenyo_Click();
    f.m1c_Click();
    QCOMPARE(&game.windows().form3(), &lists);
    QCOMPARE(GameFixture::openWindows<Form3>(), 1);
    lists.Command1_Click();
    GameFixture::settle();
    QVERIFY(!game.windows().resultsExist());
    QCOMPARE(readFile(game.rankingPath()), ranking);
}

void CommandsTest::endWritesNothingWhateverIsOpen_data()
{
    QTest::addColumn<bool>("byMenu");
    QTest::addColumn<QString>("open");
    for (bool menu : {false, true})
        for (const char* open : {"game", "lists", "help"})
            QTest::addRow("%s, %s open", menu ? "menu" : "button", open) << menu << QString::fromLatin1(open);
}

// Guards against 終了 running a window's closing step or saving the lists on the way out.
void CommandsTest::endWritesNothingWhateverIsOpen()
{
    QFETCH(bool, byMenu);
    QFETCH(QString, open);
    GameFixture game;
    Form1& f = game.form();
    QVERIFY(rankingbytes::writeFile(game.rankingPath(), ranking));
    game.scriptProportionalQuestions(1);
    f.Command1_Click();
    if (open == QLatin1String("lists"))
        f.m1c_Click();
    else if (open == QLatin1String("help"))
        f.helpyo_Click();
    if (byMenu)
        f.m1d->trigger();
    else
        f.Command5->click();
    QVERIFY(game.services().ended);
    QCOMPARE(readFile(game.rankingPath()), ranking);
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"

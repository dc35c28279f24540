// SPDX-License-Identifier: GPL-3.0-or-later
// The game window's other controls: the range button and menu, the start message as the
// window becomes active again, the menu's entries and the close box.
#include "rules/module1.h"
#include "rules/ranges.h"
#include "app/windows.h"
#include "game/form1.h"
#include "help/form2.h"
#include "support/game_fixture.h"
#include "support/game_probes.h"
#include "support/rows.h"

#include <QAction>
#include <QTest>

using namespace Module1;
using namespace gameprobes;

class Form1ControlsTest : public QObject {
    Q_OBJECT

private slots:
    void rangeChangeMidQuestion_data();
    void rangeChangeMidQuestion();
    void rangeButtonAndMenuAgree();
    void startMessageOnFirstDisplayOnly();
    void startMessageAfterAnotherWindowOnly();
    void ticksGoOnWhileTheStartMessageShows();
    void menuAndButtonsReachTheSameHandlers();
    void closeBoxEndsTheProgram();
};

void Form1ControlsTest::rangeChangeMidQuestion_data()
{
    bothWays("byButton", "range button", "range menu");
}

// Guards against the range button leaving the countdown running or a frozen question losing its
// points, the range menu stopping or restarting a running countdown, and a range change redrawing
// the question on screen instead of the next one.
void Form1ControlsTest::rangeChangeMidQuestion()
{
    QFETCH(bool, byButton);
    GameFixture game;
    Form1& f = start(game, 2);
    tick(f, 4);
    if (byButton)
        f.Command3_Click();
    else
        f.en(1).trigger();
    QCOMPARE(f.Timer1->isRunning(), !byButton);
    QCOMPARE(f.tokuten->caption(), QStringLiteral(" 6"));
    QVERIFY(f.kotae(0).isEnabled());
    QCOMPARE(row(f, 0), (QStringList{"-2", "-1", " 0", " 1", " 2"}));
    if (!byButton)
        tick(f, 1); // the menu's countdown goes on from 6, the button's stays frozen
    f.kotae_Click(0);
    QCOMPARE(f.tokutenyo->text(), byButton ? QStringLiteral(" 6") : QStringLiteral(" 5"));
    QVERIFY(f.Timer1->isRunning());
    QCOMPARE(row(f, 0), (QStringList{" 1", " 2", " 3", " 4", " 5"}));
    QCOMPARE(row(f, 5), (QStringList{" 2", " 4", " 6", " 8", " 10"}));
}

// Guards against the range button skipping a range, a range message missing or naming the wrong
// range, a message or caption change when the menu picks the range already chosen, and the check
// mark and the range button drifting apart.
void Form1ControlsTest::rangeButtonAndMenuAgree()
{
    GameFixture game;
    Form1& f = game.form();
    const QStringList names{"－２～２", "１～５", "－５～－１", "ランダム"};
    int range = 0;
    int messages = 0;
    // -1 clicks the range button; 0 to 3 pick that entry of the menu.
    for (int step : {0, -1, -1, -1, -1, -1, 3, -1, 3, 0, -1, 2, 2, -1, 1, -1, -1}) {
        const int before = range;
        if (step < 0) {
            f.Command3_Click();
            range = (range + 1) % 4; // the button takes the next range, round to the first
        } else {
            f.en(static_cast<std::int16_t>(step)).trigger();
            range = step;
        }
        QCOMPARE(hani, range);
        QCOMPARE(checkedRanges(f), QList<int>{range});
        QCOMPARE(f.Command3->text(), QStringLiteral("ｘの値：") + names[range]);
        if (range != before) {
            ++messages;
            const ui::Message& m = game.services().messages.back();
            QCOMPARE(m.title, rangeTitle);
            QCOMPARE(m.text, QStringLiteral("ｘの値を ") + names[range]
                                 + QStringLiteral(" の範囲にします。\r「スタート」ボタンをクリックしてください。"));
            QCOMPARE(m.icon, ui::Icon::Exclamation);
        }
        QCOMPARE(game.services().countTitled(rangeTitle), messages);
    }
}

// Guards against the start message missing at start-up or coming back when a message box closes.
void Form1ControlsTest::startMessageOnFirstDisplayOnly()
{
    GameFixture game;
    Form1& f = game.form();
    QCOMPARE(game.services().countTitled(startTitle), 1);
    const ui::Message& m = game.services().messages.front();
    QCOMPARE(m.text, QStringLiteral("「スタート」ボタンをクリックすると，始まります。"));
    QCOMPARE(m.icon, ui::Icon::Exclamation);
    QCOMPARE(m.buttons, ui::Buttons::Ok);

    // The window system activates the game window again as each message box closes,
    // and when the player comes back from another application.
    for (int i = 0; i < 3; ++i) {
        f.windowActivated();
        GameFixture::settle();
    }
    f.Command3_Click();
    f.windowActivated();
    GameFixture::settle();
    QCOMPARE(game.services().countTitled(startTitle), 1);
}

// Guards against the start message not coming back after the help or results window.
void Form1ControlsTest::startMessageAfterAnotherWindowOnly()
{
    GameFixture game;
    Form1& f = game.form();
    f.helpyo_Click();
    game.windows().form2().windowActivated();
    GameFixture::settle();
    game.windows().form2().Command1_Click();
    f.windowActivated(); // what the window system does when 戻る brings the game window up
    GameFixture::settle();
    QCOMPARE(game.services().countTitled(startTitle), 2);
    f.windowActivated();
    GameFixture::settle();
    QCOMPARE(game.services().countTitled(startTitle), 2);
}

// Guards against the start message stopping or resetting a running countdown.
void Form1ControlsTest::ticksGoOnWhileTheStartMessageShows()
{
    GameFixture game;
    Form1& f = start(game, 1);
    tick(f, 1);
    QString shownDuringMessage;
    game.services().onMessage = [&](const ui::Message&) {
        f.Timer1_Timer();
        shownDuringMessage = f.tokuten->caption();
    };
    game.windows().form2().Show();
    game.windows().form2().windowActivated();
    f.windowActivated();
    GameFixture::settle();
    QCOMPARE(game.services().countTitled(startTitle), 2);
    QCOMPARE(shownDuringMessage, QStringLiteral(" 8"));
    QVERIFY(f.Timer1->isRunning());
}

// Guards against a menu entry doing something other than its button.
void Form1ControlsTest::menuAndButtonsReachTheSameHandlers()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(3);
    f.m1a->trigger();
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 1問"));
    f.kotae_Click(0);
    f.m1a->trigger();
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 1問"));
    QCOMPARE(f.tokutenyo->text(), QStringLiteral(" 0"));
    f.m1d->trigger();
    QVERIFY(game.services().ended);
}

// Guards against the close box leaving the program running without its game window.
void Form1ControlsTest::closeBoxEndsTheProgram()
{
    GameFixture game;
    game.form().close();
    QVERIFY(game.services().ended);
}

QTEST_MAIN(Form1ControlsTest)
#include "tst_form1controls.moc"

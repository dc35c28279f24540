// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows.h"
#include "game/form1.h"
#include "help/form2.h"
#include "support/game_fixture.h"
#include "ui/accessibility.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QRegularExpression>

namespace {

// Whether the label shows all of its wrapped caption within its own size.
bool fitsInside(const ui::Label& label)
{
    return label.heightForWidth(label.width()) <= label.height();
}

} // namespace

class Form2Test : public QObject {
    Q_OBJECT
private slots:
    void textsStandAsWrittenAndFit_data();
    void textsStandAsWrittenAndFit();
    void returnHidesAndActivatesTheGame();
    void returnLeavesTheCountdownAlone();
    void closeBoxDestroysAndNextOpeningCreatesAnew();
    void everyOpeningSaysTheFourTextsOnce();
};

void Form2Test::textsStandAsWrittenAndFit_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("spaceRuns");
    // Each text (named by the row) opens with its own blanks and keeps its runs of ASCII spaces.
    QTest::newRow("Label2") << QStringLiteral("　 中学校") << 1;
    QTest::newRow("Label3") << QStringLiteral("　 「スタート」") << 2;
    QTest::newRow("Label4") << QStringLiteral("　 問題が") << 0;
    QTest::newRow("Label6") << QStringLiteral("  ｘの値は，") << 1;
}

// Guards against leading blanks or space runs being trimmed, or a text clipped by its label.
void Form2Test::textsStandAsWrittenAndFit()
{
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QFETCH(QString, start);
    QFETCH(int, spaceRuns);
    GameFixture game;
    Form2& help = game.windows().form2();
    help.Show();
    auto* label = help.findChild<ui::Label*>(name);
    QVERIFY(label);
    QVERIFY(label->caption().startsWith(start));
    QVERIFY(!label->caption().contains(u','));
    QCOMPARE(label->caption().count(QRegularExpression(QStringLiteral("(?<! ) {2,}(?! )"))), spaceRuns);
    QVERIFY(label->wordWrap());
    QVERIFY2(fitsInside(*label), qPrintable(name + QStringLiteral(" is clipped")));
}

// Guards against a second help window on a second 説明, or 戻る destroying the help window or
// leaving the game window inactive.
void Form2Test::returnHidesAndActivatesTheGame()
{
    GameFixture game;
    Form1& f = game.form();
    f.helpyo_Click();
    QPointer<Form2> help = &game.windows().form2();
    f.m5c_Click();
    f.helpyo_Click();
    QCOMPARE(&game.windows().form2(), help.data());
    QCOMPARE(GameFixture::openWindows<Form2>(), 1);
    QVERIFY(help->isVisible());
    help->windowActivated();
    const QPoint place = help->pos();
    help->Command1_Click();
    GameFixture::settle();
    QVERIFY(!help.isNull());
    QVERIFY(!help->isVisible());
    f.windowActivated();
    GameFixture::settle();
    QCOMPARE(game.services().countTitled(QStringLiteral("スタート")), 2);
    f.m5c_Click();
    QCOMPARE(&game.windows().form2(), help.data());
    QCOMPARE(help->pos(), place);
}

// Guards against the help window stopping or resetting a running question.
void Form2Test::returnLeavesTheCountdownAlone()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptProportionalQuestions(1);
    f.Command1_Click();
    f.Timer1_Timer();
    f.helpyo_Click();
    game.windows().form2().Command1_Click();
    GameFixture::settle();
    QVERIFY(f.Timer1->isRunning());
    QCOMPARE(f.tokuten->caption(), QStringLiteral(" 9"));
    QCOMPARE(f.monbang->caption(), QStringLiteral("第 1問"));
}

// Guards against a help window closed by its frame coming back broken or twice.
void Form2Test::closeBoxDestroysAndNextOpeningCreatesAnew()
{
    GameFixture game;
    Form1& f = game.form();
    f.helpyo_Click();
    QPointer<Form2> help = &game.windows().form2();
    help->close();
    GameFixture::settle();
    QVERIFY(help.isNull());
    QVERIFY(!game.windows().helpExists());
    f.helpyo_Click();
    QVERIFY(game.windows().helpExists());
    QVERIFY(game.windows().form2().isVisible());
    QCOMPARE(game.windows().form2().Label2->caption().left(3), QStringLiteral("　 中"));
}

// Guards against a blind pupil hearing only the window's title and 戻る: the four texts are
// said once, in reading order, at the first opening and at each later one, with the focus
// left on 戻る.
void Form2Test::everyOpeningSaysTheFourTextsOnce()
{
    GameFixture game;
    Form1& f = game.form();
    f.helpyo_Click();
    Form2& help = game.windows().form2();
    QString texts;
    for (const ui::Label* label : {help.Label2, help.Label3, help.Label4, help.Label6})
        texts += label->caption().trimmed();
    QVERIFY(texts.startsWith(QStringLiteral("中学校")));
    QTRY_COMPARE(ui::lastAnnouncement(&help), texts);
    QCOMPARE(help.focusWidget(), help.Command1);
    ui::announce(&help, QStringLiteral("."));
    QTRY_COMPARE(ui::lastAnnouncement(&help), QStringLiteral("."));
    help.Command1_Click();
    GameFixture::settle();
    f.m5c_Click();
    QTRY_COMPARE(ui::lastAnnouncement(&help), texts);
    QCOMPARE(help.focusWidget(), help.Command1);
}

QTEST_MAIN(Form2Test)
#include "tst_form2.moc"

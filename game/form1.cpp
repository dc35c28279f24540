// SPDX-License-Identifier: GPL-3.0-or-later
// The game window's behaviour: start-up, questions, countdown, answers, ranges, commands.
#include "game/form1.h"

#include "rules/module1.h"
#include "rules/number_text.h"
#include "rules/ranges.h"
#include "rules/question.h"
#include "ui/accessibility.h"
#include "ui/services.h"
#include "ui/text.h"

#include <QAction>

using namespace Module1;

namespace {

using question::columns;
const QString noValue = ui::qtext(question::noValue);
const QString rightMark = QStringLiteral("○");
const QString wrongMark = QStringLiteral("×");

// A caption as a screen reader should say it: "-2" as "マイナス2", the empty cell " ×" as "なし".
QString spoken(const QString& caption)
{
    if (caption == noValue)
        return QStringLiteral("なし");
    const QString value = caption.trimmed();
    return value.startsWith(u'-') ? QStringLiteral("マイナス") + value.mid(1) : value;
}

QString numberText(double value)
{
    return ui::qtext(numtext::numberText(value));
}

int readNumber(const QString& caption)
{
    return numtext::readNumber(ui::u16(caption));
}

} // namespace

void Form1::Form_Load()
{
    Timer1->setInterval(0);
    ui::Randomize();
    for (std::int16_t i = 0; i < rangeCount; ++i)
        hanimei[i] = ui::qtext(rangeName(i));
    question::fillFixedRows(xatai);
    setAnswersEnabled(false);
    kotae(3).setVisible(false);
    en(0).setChecked(true);
    hani = 0;
    showRange();
}

void Form1::Form_Activate()
{
    ui::MsgBox(QStringLiteral("「スタート」ボタンをクリックすると，始まります。"), QStringLiteral("スタート"),
               ui::Icon::Exclamation);
}

void Form1::closedByFrame()
{
    Command5_Click();
}

void Form1::Command1_Click()
{
    sikiyo.forEach([](std::int16_t, ui::Label& mark) { mark.setCaption({}); });
    setAnswersEnabled(true);
    mondaisu = 0;
    touroku = 0;
    tokutenyo->setText(numberText(0));
    syutudai();
}

void Form1::syutudai()
{
    haiten = question::fullPoints;
    tokuten->setCaption(numberText(haiten).right(2));
    Timer1->setInterval(question::tickMilliseconds);
    ++mondaisu;
    monbang->setCaption(QStringLiteral("第") + numberText(mondaisu) + QStringLiteral("問"));

    const question::Relation relation = question::drawRelation(ui::Rnd, {kankei, keisuA, keisuB, keisuC});
    kankei = relation.kankei;
    keisuA = relation.a;
    keisuB = relation.b;
    keisuC = relation.c;

    if (hani == question::randomRange)
        question::fillRandomRow(kankei, ui::Rnd, xatai[question::randomRange]);
    for (std::int16_t i = 0; i < columns; ++i) {
        const std::int16_t x = xatai[hani][i];
        mondai(i).setCaption(numberText(x));
        mondai(i + columns).setCaption(ui::qtext(question::yText(relation, x)));
        ui::describe(&mondai(i + columns), mondai(i + columns).caption() == noValue ? QStringLiteral("ｙの値なし")
                                                                                     : QStringLiteral("ｙの値"));
    }
    announceQuestion();
}

void Form1::announceQuestion()
{
    QString x, y;
    for (std::int16_t i = 0; i < columns; ++i) {
        x += QStringLiteral(" ") + spoken(mondai(i).caption());
        y += QStringLiteral(" ") + spoken(mondai(i + columns).caption());
    }
    ui::announce(this, QStringLiteral("第") + spoken(numberText(mondaisu)) + QStringLiteral("問、")
                           + spoken(tokuten->caption()) + QStringLiteral("点。ｘ") + x + QStringLiteral("、ｙ") + y
                           + QStringLiteral("。"));
}

void Form1::announceResult(const QString& result)
{
    ui::announce(this, result + QStringLiteral("。得点 ") + spoken(tokutenyo->text()) + QStringLiteral("点。"));
}

void Form1::Timer1_Timer()
{
    if (!question::countdownTick(haiten)) {
        tokuten->setCaption(numberText(haiten));
        return;
    }
    markResult(wrongMark);
    announceResult(QStringLiteral("時間切れ、ばつ"));
    ui::Beep();
    Timer1->setInterval(0);
    if (mondaisu >= question::questionsPerGame)
        endGame(false);
    else
        syutudai();
}

void Form1::kotae_Click(std::int16_t Index)
{
    if (question::isRightAnswer(kankei, Index)) {
        markResult(rightMark);
        const int total = readNumber(tokutenyo->text()) + readNumber(tokuten->caption());
        tokutenyo->setText(numberText(total));
        announceResult(QStringLiteral("まる、正解"));
    } else {
        markResult(wrongMark);
        announceResult(QStringLiteral("ばつ、不正解"));
    }
    Timer1->setInterval(0);
    ui::Beep();
    if (mondaisu >= question::questionsPerGame)
        endGame(true);
    else
        syutudai();
}

void Form1::markResult(const QString& mark)
{
    if (sikiyo.exists(mondaisu - 1))
        sikiyo(mondaisu - 1).setCaption(mark);
}

void Form1::endGame(bool byAnswer)
{
    setAnswersEnabled(false);
    tensu = static_cast<std::int16_t>(readNumber(tokutenyo->text()));
    navigation.showResults(true);
    if (byAnswer)
        ui::MsgBox(QStringLiteral("再スタートは，\r「スタート」ボタンをクリック!!"), QStringLiteral("再スタート"),
                   ui::Icon::Exclamation);
}

void Form1::setAnswersEnabled(bool enabled)
{
    kotae.forEach([enabled](std::int16_t, QPushButton& b) { b.setEnabled(enabled); });
}

void Form1::showRange()
{
    Command3->setText(QStringLiteral("ｘの値：") + hanimei[hani]);
}

void Form1::showRangeMessage()
{
    ui::MsgBox(QStringLiteral("ｘの値を ") + hanimei[hani] + QStringLiteral(" の範囲にします。\r"
                                                                   "「スタート」ボタンをクリックしてください。"),
               QStringLiteral("ｘの値の変更"), ui::Icon::Exclamation);
}

void Form1::Command3_Click()
{
    Timer1->setInterval(0);
    en.forEach([](std::int16_t, QAction& item) { item.setChecked(false); });
    hani = nextRange(hani);
    en(hani).setChecked(true);
    showRange();
    showRangeMessage();
}

void Form1::en_Click(std::int16_t Index)
{
    en.forEach([Index](std::int16_t i, QAction& item) { item.setChecked(i == Index); });
    const std::int16_t old = hani;
    hani = Index;
    if (old != Index) {
        showRange();
        showRangeMessage();
    }
}

void Form1::Command5_Click()
{
    ui::End();
}

void Form1::helpyo_Click()
{
    navigation.showHelp();
}

void Form1::tokutenyo_Click()
{
    m1c_Click();
}

void Form1::m1a_Click()
{
    Command1_Click();
}

void Form1::m1c_Click()
{
    tensu = 0;
    navigation.showResults(false);
}

void Form1::m1d_Click()
{
    Command5_Click();
}

void Form1::m5c_Click()
{
    helpyo_Click();
}

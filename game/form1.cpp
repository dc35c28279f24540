// SPDX-License-Identifier: GPL-3.0-or-later
// The game window's behaviour: each event goes to the model (rules/game_window.h), whose
// screen and step the window then shows and carries out.
#include "game/form1.h"

#include "ui/accessibility.h"
#include "ui/services.h"
#include "ui/text.h"

#include <QAction>

namespace {

using question::columns;

} // namespace

void Form1::Form_Load()
{
    ui::Randomize();
    kotae(game::hiddenAnswer).setVisible(false);
    play(model.Form_Load());
}

void Form1::Form_Activate()
{
    play(model.Form_Activate());
}

void Form1::closedByFrame()
{
    Command5_Click();
}

void Form1::Command1_Click()
{
    play(recorder.Command1_Click(model, newSeed ? newSeed() : ui::NewSeed()));
}

void Form1::syutudai()
{
    play(recorder.syutudai(model));
}

void Form1::Timer1_Timer()
{
    readShownNumbers();
    play(recorder.Timer1_Timer(model));
}

void Form1::kotae_Click(std::int16_t Index)
{
    readShownNumbers();
    play(recorder.kotae_Click(model, Index));
}

void Form1::Command3_Click()
{
    play(model.Command3_Click());
}

void Form1::en_Click(std::int16_t Index)
{
    play(model.en_Click(Index));
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
    play(model.m1c_Click());
}

void Form1::m1d_Click()
{
    Command5_Click();
}

void Form1::m5c_Click()
{
    helpyo_Click();
}

void Form1::readShownNumbers()
{
    if (!model.screen.played)
        return; // still the designed captions
    model.screen.tokuten = ui::u16(tokuten->caption());
    model.screen.tokutenyo = ui::u16(tokutenyo->text());
}

void Form1::showScreen()
{
    const game::Screen& s = model.screen;
    if (s.played) {
        monbang->setCaption(ui::qtext(s.monbang));
        tokuten->setCaption(ui::qtext(s.tokuten));
        tokutenyo->setText(ui::qtext(s.tokutenyo));
        mondai.forEach([&s](std::int16_t i, ui::Label& cell) { cell.setCaption(ui::qtext(s.mondai[i])); });
        for (std::int16_t i = 0; i < columns; ++i)
            ui::describe(&mondai(i + columns), ui::qtext(s.yDescription[i]));
        sikiyo.forEach([&s](std::int16_t i, ui::Label& mark) { mark.setCaption(ui::qtext(s.sikiyo[i])); });
    }
    kotae.forEach([&s](std::int16_t, QPushButton& b) { b.setEnabled(s.answersEnabled); });
    en.forEach([&s](std::int16_t i, QAction& item) { item.setChecked(i == s.checkedRange); });
    Command3->setText(ui::qtext(s.command3));
}

void Form1::play(const game::Step& step)
{
    using game::StepPart;
    for (const StepPart part : game::stepParts) {
        switch (part) {
        case StepPart::Screen: showScreen(); break;
        case StepPart::Said:
            for (const std::u16string& sentence : step.said)
                ui::announce(this, ui::qtext(sentence));
            break;
        case StepPart::Beep:
            if (step.beep)
                ui::Beep();
            break;
        case StepPart::Timer:
            if (step.timer == game::TimerChange::Stop)
                Timer1->setInterval(0);
            else if (step.timer == game::TimerChange::Start)
                Timer1->setInterval(question::tickMilliseconds);
            break;
        case StepPart::Results:
            if (step.results != game::Results::None)
                navigation.showResults(step.results == game::Results::AtGameEnd);
            break;
        case StepPart::Message:
            if (step.message)
                ui::MsgBox(ui::qtext(step.message->text), ui::qtext(step.message->title), ui::Icon::Exclamation);
            break;
        case StepPart::NextQuestion:
            if (step.nextQuestion)
                syutudai();
            break;
        }
    }
}

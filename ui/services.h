// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

// What the windows ask of the system besides their controls: message boxes, the beep,
// random draws, waiting on a modal window and ending the program. Each goes through a
// replaceable function so that tests run with nobody at the screen.
namespace ui {

class Form;

enum class Icon { Exclamation, Question };
enum class Buttons { Ok, OkCancel }; // with OK and Cancel, Cancel is the default
enum class Answer { Ok, Cancel };

struct Message {
    QString text; // a carriage return (code 13) breaks the line
    QString title;
    Icon icon = Icon::Exclamation;
    Buttons buttons = Buttons::Ok;
    Form* owner = nullptr; // the window it is opened over; it closes with that window
};

// A modal message box over the window that asks (Form::owningWindow); returns the button
// that closed it (closing by Esc counts as Cancel). A box whose window is unloaded while it
// is open closes with it and answers Cancel.
Answer MsgBox(const QString& text, const QString& title, Icon icon, Buttons buttons = Buttons::Ok);
void Beep();
// Seeds the random draw from the clock.
void Randomize();
// A uniformly distributed real r with 0 <= r < 1.
double Rnd();
// The seed of a new game, 0 to 2^32 - 1: its questions are drawn from it, so that a class server
// can draw them again (unless scriptedDraws).
std::uint32_t NewSeed();
// Ends the program at once: no window's closing step runs and nothing is saved.
void End();

struct Services {
    std::function<Answer(const Message&)> messageBox;
    std::function<void()> beep;
    std::function<void()> randomize;
    std::function<double()> rnd;
    std::function<std::uint32_t()> newSeed;
    // Set by a test whose script of Rnd's draws fixes the questions, which then take those
    // draws instead of their game's seed's.
    bool scriptedDraws = false;
    std::function<void(Form&)> runModal; // returns once the shown modal window is unloaded
    std::function<void()> end;
};

// The functions in use; tests replace members and put the originals back.
Services& services();
// The functions of the real program.
Services realServices();

} // namespace ui

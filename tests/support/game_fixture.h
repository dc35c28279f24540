// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/windows.h"
#include "support/fake_services.h"
#include "support/program_dir.h"

#include <QApplication>

#include <deque>
#include <memory>

class Form1;

// A fresh game window, loaded and shown headless, with FakeServices in place, the shared
// state back at its start-up values and the ranking file kept in a temporary directory. The
// windows are wired as the program wires them (app/windows.h); those left open are destroyed
// afterwards.
class GameFixture {
public:
    GameFixture();
    ~GameFixture();

    Form1& form();
    FakeServices& services() { return *fake; }
    app::Windows& windows() { return wiring; }

    // Draws that make every coming question a proportion y = 2x (two draws each).
    void scriptProportionalQuestions(int count);
    // Draws for one question of the given kind; button `right` answers it.
    void scriptQuestionOfKind(int kankei);

    // Where the ranking file is kept during the test.
    QString rankingPath() const;

    // How many windows of type F are open (created and not unloaded).
    template <class F>
    static int openWindows()
    {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* form = qobject_cast<F*>(w); form && !form->isUnloaded())
                ++n;
        return n;
    }

    // Runs what is waiting in the event queue (activations are delivered from there).
    static void settle();

private:
    std::unique_ptr<FakeServices> fake;
    ProgramDir places;
    app::Windows wiring{places.options()};
};

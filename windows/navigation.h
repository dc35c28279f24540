// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How the program's windows reach one another. A window is handed a Navigation when it is
// created and never names another window's class: the program's wiring (app/windows.h)
// implements it, creates each window at most once and owns them all. The Navigation outlives
// every window it was handed to.
namespace windows {

struct Navigation {
    // Shows the results window for the score in Module1::tensu. Non-modal, an open window is
    // only brought to the front. Modal, an open viewing window is closed first (nothing saved)
    // so that a fresh window takes in the score; returns once it has been unloaded.
    virtual void showResults(bool modal) = 0;

    // Shows the game window, not modal; creates it (running its Load) if it was closed.
    virtual void showGame() = 0;

    // Shows the help window, creating it at its first opening.
    virtual void showHelp() = 0;

protected:
    ~Navigation() = default;
};

} // namespace windows

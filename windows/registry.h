// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "storage/ranking_file.h"

class Form1;
class Form2;
class Form3;

// The program's three windows, each existing at most once. A window that is missing, or
// has been unloaded, is created afresh when asked for.
namespace windows {

Form1& form1();
Form2& form2();
Form3& form3();

bool helpExists();
bool resultsExist();

// Shows the results window for the score in Module1::tensu. Non-modal, an open window is
// only brought to the front. Modal, an open viewing window is closed first (nothing saved)
// so that a fresh window takes in the score; returns once it has been unloaded.
void showResults(bool modal);

// Shows the game window, not modal; creates it (running its Load) if it was closed.
void showGame();

// Shows the help window, creating it at its first opening.
void showHelp();

// Where each results window created from now on keeps the ranking file, and how it meets
// other running copies: the program's defaults unless a test sets its own.
results::RankingOptions& rankingOptions();

// Destroys every window at once (for tests).
void destroyAll();

} // namespace windows

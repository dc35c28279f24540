// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QApplication;

#include <memory>

namespace ui {

// Creates the application object. Where no window can be shown (no display, or an X server
// that is not there) it says so in Japanese and English on standard error and ends the
// program with status 1, instead of Qt's abort.
std::unique_ptr<QApplication> createApplication(int& argc, char** argv);

// Gives the application the look and keys every window is designed for: the Fusion style
// with its own palette, a focus mark on buttons and plain ticks in menus, Enter pressing
// the focused button, the Japanese Gothic face at 9 pt as the user-interface font, Qt's Japanese
// texts for standard buttons ("キャンセル"), and screen-reader names for drawn controls.
void initApplication(QApplication& app, int fontPixels);

} // namespace ui

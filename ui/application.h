#pragma once

class QApplication;

namespace ui {

// Gives the application the look and keys every window is designed for: the Fusion style
// with its own palette, a focus mark on buttons and plain ticks in menus, Enter pressing
// the focused button, the Japanese Gothic face at 9 pt as the user-interface font, Qt's Japanese
// texts for standard buttons ("キャンセル"), and screen-reader names for drawn controls.
void initApplication(QApplication& app);

} // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace ui {

// Enter (Return or the keypad's Enter) presses the push button that has the keyboard focus,
// in every window of the program, as Space does. No button becomes a default button; keys
// sent to other controls (the name box) and to message boxes, which press their own
// default button, are left as they are.
// A key held down presses once, when it goes down: the repeats of a held Enter, Escape or
// Space are dropped wherever they go, so that they never press a button, close a message box
// or enter a name in a window that came up meanwhile (Space presses a button when let go, and
// only the button it went down on). A held Space still types on in the name box, as held
// letters do.
void installButtonKeys();

} // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace ui {

// Enter (Return or the keypad's Enter) presses the push button that has the keyboard focus,
// in every window of the program, as Space does. No button becomes a default button; keys
// sent to other controls (the name box) and to message boxes, which press their own
// default button, are left as they are. Holding Enter down presses the button once.
void installButtonKeys();

} // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// The words of a message box: its text, where a carriage return (code 13) breaks the line,
// and its title. How the box looks (icon, buttons) is said by the window that shows it.
struct MessageText {
    std::u16string text;
    std::u16string title;
};

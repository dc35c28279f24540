// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QRect>
#include <QString>

class QWidget;

namespace ui {

// How a control looks. Fields left at their defaults mean "as the window has it".
struct Look {
    int pixels = 0; // font size in pixels; 0 keeps the window's font
    bool bold = false;
    QColor text; // invalid: no colour of its own
    QColor back; // invalid: no colour of its own (transparent for labels)
    Qt::Alignment align = Qt::AlignLeft;
};

// Gives a widget the font and colours of a Look.
void applyLook(QWidget* widget, const Look& look);

} // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/look.h"

#include "ui/fonts.h"

#include <QWidget>

namespace ui {

void applyLook(QWidget* widget, const Look& look)
{
    if (look.pixels > 0)
        widget->setFont(gothicFont(look.pixels, look.bold));
    QPalette palette = widget->palette();
    if (look.text.isValid()) {
        palette.setColor(QPalette::WindowText, look.text);
        palette.setColor(QPalette::Text, look.text);
    }
    if (look.back.isValid()) {
        palette.setColor(QPalette::Window, look.back);
        palette.setColor(QPalette::Base, look.back);
        widget->setAutoFillBackground(true);
    }
    widget->setPalette(palette);
}

} // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>

namespace ui {

// Pixel size of a point size at 96 dpi, rounded to the nearest pixel (13.5 pt -> 18 px).
int pointsToPixels(double points);

// The proportional Japanese Gothic face every window uses, at a point size given
// for 96 dpi. Falls back to IPAPGothic and other Japanese proportional Gothic faces.
QFont gothicFont(double points, bool bold = false);

} // namespace ui

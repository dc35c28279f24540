// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>

namespace ui {

// The proportional Japanese Gothic face every window uses, `pixels` high (a size in pixels
// keeps the design's layout whatever the screen's dpi). Falls back to IPAPGothic and other
// Japanese proportional Gothic faces.
QFont gothicFont(int pixels, bool bold = false);

} // namespace ui

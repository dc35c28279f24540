// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>

// The windows are designed in twips: 1440 to the inch, 15 to a logical pixel at 96 dpi.
namespace ui {

constexpr int twipsPerPixel = 15;

// Nearest whole logical pixel; halves round away from zero.
constexpr int px(int twips)
{
    return twips >= 0 ? (twips + twipsPerPixel / 2) / twipsPerPixel
                      : -((-twips + twipsPerPixel / 2) / twipsPerPixel);
}

// Each edge is converted on its own, as the design gives left, top, width and height.
constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

constexpr QPoint twipsPoint(int x, int y)
{
    return QPoint(px(x), px(y));
}

} // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProxyStyle>

namespace ui {

// Fusion, with two marks drawn as on the desktop the windows were designed for:
//  - the push button that has the keyboard focus shows a dotted rectangle inside its face,
//    whether the focus came by mouse or by keyboard;
//  - a checkable menu item shows a tick when checked and nothing at all when unchecked,
//    instead of a tick box. (The item stays checkable: screen readers still hear its state.)
class Style : public QProxyStyle {
    Q_OBJECT
public:
    Style();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};

} // namespace ui

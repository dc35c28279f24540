// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/design.h"
#include "ui/controls.h"
#include "ui/form.h"

#include <QApplication>

#include <functional>

// The windows' design tables (rules/design.h) in the terms of the window layer: pixels of the
// client area, colours, looks and the definitions the controls are made from.
namespace windows {

QString qtext(std::u16string_view text);
// The name of the control's widget: an array's element is "kotae(0)".
QString objectName(const design::Control& control);
QColor colour(design::Colour c); // invalid for design::none
ui::Look look(const design::Look& look);
QRect rect(const design::Rect& twips);
QPoint point(int xTwips, int yTwips);

// ui::initApplication with the design's user-interface font.
void initApplication(QApplication& app);

// The window's name, caption, client size, ground and font, with a menu bar if it has menus.
ui::FormDesign formDesign(const design::Window& window);

// An element of a control array gets its name from the array (ui::ControlArray), so its
// definition has none.
ui::LabelDef labelDef(const design::Control& control);
ui::ButtonDef buttonDef(const design::Control& control, std::function<void()> onClick);

// The window's tables for screen readers (design::Window::tables), of the controls in `area`
// as they stand: an array's copies made at run time are its rows.
void makeTables(QWidget* area, const design::Window& window);

// The line, made in `area`.
ui::Line* makeLine(QWidget* area, const design::Line& line);

// Gives the window's controls the design's keyboard order and the focus to the first.
void setTabOrder(QWidget* form, const design::Window& window);

} // namespace windows

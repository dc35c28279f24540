// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// The three windows as designed, free of any toolkit: each control's place and size in twips
// (1440 to the inch, 15 to a pixel at 96 dpi), its colours, its font in points and the caption
// it is designed with (the game changes some). This is the one place the design is written:
// the desktop's windows (game/, results/, help/) and the page (web/layout.js, through the
// bindings) are built from it, and the tests hold what they draw against it.
namespace design {

// The design's units on the screen, for every front end: at 96 dots per inch a logical (CSS)
// pixel is 15 twips and three quarters of a point. Both give the nearest whole pixel, halves
// away from zero.
inline constexpr int twipsPerPixel = 15;
constexpr int pixels(int twips)
{
    return twips >= 0 ? (twips + twipsPerPixel / 2) / twipsPerPixel : -((-twips + twipsPerPixel / 2) / twipsPerPixel);
}
constexpr int fontPixels(double points)
{
    const double exact = points * 96 / 72;
    return exact >= 0 ? static_cast<int>(exact + 0.5) : -static_cast<int>(-exact + 0.5);
}
// The font of a window without one of its own (Window::points 0): the user-interface font.
inline constexpr double interfacePoints = 9;

using Colour = std::int32_t;       // 0xRRGGBB
inline constexpr Colour none = -1; // no colour of its own: the parent's, or the platform's

enum class Align : std::uint8_t { left, centre, right };

struct Look {
    double points = 0; // font size at 96 dpi; 0 keeps the window's font
    bool bold = false;
    Colour text = none;
    Colour back = none; // a label without one is transparent; buttons keep the platform's colours
    Align align = Align::left;
};

struct Rect {
    int left, top, width, height; // twips
};

enum class Kind : std::uint8_t { label, button, frame, text };

// What else a control does (Control::flags).
enum Flag : unsigned {
    autoSize = 1,   // the width follows the caption; the top-left corner stays
    wrap = 2,       // the caption wraps within the width
    decoration = 4, // drawn only: a screen reader passes it by
};

struct Control {
    Kind kind;
    std::u16string_view name; // for an element of a control array, the array's name
    std::int16_t index;       // the element's index in its array; -1 for a control of its own
    std::u16string_view caption;
    Rect rect; // in the client area, or in its frame for a frame's control
    Look look = {};
    unsigned flags = 0;
    std::u16string_view description = {}; // what a screen reader says it is, after its name
    std::u16string_view frame = {};       // the frame it stands in, if any
    // Elements 1 to rows - 1 are copies of element 0 made at run time, each Window::rowStep lower.
    std::int16_t rows = 1;

    bool has(Flag flag) const { return (flags & flag) != 0; }
};

// A straight line of `width` pixels between two points of the client area.
struct Line {
    std::u16string_view name;
    int x1, y1, x2, y2; // twips
    int width;
    Colour colour;
};

// A control, or an element of a control array, as a table names it.
struct Cell {
    std::u16string_view name;
    std::int16_t index = -1;
};

// Controls a screen reader reads as one table: each row's cells, the first of a row its
// heading. Named by `caption`, or where that is empty by the caption of the control `heading`.
struct Table {
    std::u16string_view name; // the table's own name (the page's element)
    std::u16string_view caption;
    std::u16string_view heading;
    std::vector<std::vector<Cell>> rows;
};

struct MenuItem {
    std::u16string_view name, caption; // caption "-": a separator
};

struct Menu {
    std::u16string_view name, caption;
    std::vector<MenuItem> items = {};
    bool ranges = false; // the items are en(0) to en(rangeCount - 1), each range's name, one checked
};

struct Window {
    std::u16string_view name, caption;
    int width, height; // of the client area, twips
    Colour back;
    double points;                                  // the window's font; 0: none of its own (the user-interface font)
    std::vector<Control> controls = {};             // in the order they are made: a later one lies above an earlier
    std::vector<Line> lines = {};                   // made after the controls, over them
    std::vector<Menu> menus = {};                   // the menu bar, if any
    std::vector<std::u16string_view> tabOrder = {}; // the keyboard's order; kotae(0) is "kotae(0)"
    int rowStep = 0;                                // twips between the rows of an array's copies (Control::rows)
    std::vector<Table> tables = {};                 // for screen readers

    // The control of that name (and index, for an array's element); throws std::out_of_range
    // for one the window does not have.
    const Control& control(std::u16string_view name, int index = -1) const;
    const Line& line(std::u16string_view name) const;
};

const Window& form1(); // the game window
const Window& form2(); // the help window
const Window& form3(); // the results window

} // namespace design

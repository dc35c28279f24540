// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <emscripten/val.h>

#include <string>

// The windows' design as the page sees it (embind), beside the bindings of web/bindings.cpp.
namespace webbind {

// A JavaScript array of toJs(item) for each of `items`, in order.
template <class Items, class F>
emscripten::val listOf(const Items& items, F toJs)
{
    emscripten::val list = emscripten::val::array();
    for (const auto& item : items)
        list.call<void>("push", toJs(item));
    return list;
}

// The design of the window named Form1, Form2 or Form3 (design::Window) as the page builds it
// (web/layout.js): rectangles and points as [left, top, width, height] and [x, y] and fonts
// ("px") in the library's pixels (design::pixels, design::fontPixels; a window without a font
// of its own has the user-interface font's), colours as "#rrggbb", of a look only what it
// sets, and the tables for screen readers with each cell as [name, index].
emscripten::val designOf(const std::string& name);

} // namespace webbind

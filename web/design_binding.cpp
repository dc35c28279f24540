// SPDX-License-Identifier: GPL-3.0-or-later
// The windows' design tables handed to the page (see design_binding.h).
#include "web/design_binding.h"

#include "rules/design.h"

#include <cstdio>
#include <string_view>
#include <vector>

namespace webbind {

using emscripten::val;

namespace {

val text(std::u16string_view t)
{
    return val(std::u16string(t));
}

val colourToJs(design::Colour c)
{
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%06x", static_cast<unsigned>(c));
    return val(std::string(hex));
}

val numbers(std::vector<int> list)
{
    return listOf(list, [](int n) { return val(n); });
}

val lookToJs(const design::Look& l)
{
    val o = val::object();
    if (l.points > 0)
        o.set("px", design::fontPixels(l.points));
    if (l.bold)
        o.set("bold", true);
    if (l.text != design::none)
        o.set("text", colourToJs(l.text));
    if (l.back != design::none)
        o.set("back", colourToJs(l.back));
    if (l.align != design::Align::left)
        o.set("align", std::string(l.align == design::Align::centre ? "center" : "right"));
    return o;
}

val controlToJs(const design::Control& c)
{
    static const char* kinds[] = {"label", "button", "frame", "text"};
    val o = val::object();
    o.set("kind", std::string(kinds[static_cast<int>(c.kind)]));
    o.set("name", text(c.name));
    o.set("index", c.index);
    o.set("caption", text(c.caption));
    o.set("rect", numbers({design::pixels(c.rect.left), design::pixels(c.rect.top), design::pixels(c.rect.width),
                           design::pixels(c.rect.height)}));
    o.set("look", lookToJs(c.look));
    o.set("autoSize", c.has(design::autoSize));
    o.set("wrap", c.has(design::wrap));
    o.set("decoration", c.has(design::decoration));
    o.set("description", text(c.description));
    o.set("frame", text(c.frame));
    o.set("rows", c.rows);
    return o;
}

val lineToJs(const design::Line& l)
{
    val o = val::object();
    o.set("kind", std::string("line"));
    o.set("name", text(l.name));
    o.set("from", numbers({design::pixels(l.x1), design::pixels(l.y1)}));
    o.set("to", numbers({design::pixels(l.x2), design::pixels(l.y2)}));
    o.set("width", l.width);
    o.set("colour", colourToJs(l.colour));
    return o;
}

val menuToJs(const design::Menu& m)
{
    val o = val::object();
    o.set("name", text(m.name));
    o.set("caption", text(m.caption));
    o.set("ranges", m.ranges);
    o.set("items", listOf(m.items, [](const design::MenuItem& i) {
              return listOf(std::vector{i.name, i.caption}, text);
          }));
    return o;
}

val tableToJs(const design::Table& t)
{
    val o = val::object();
    o.set("name", text(t.name));
    o.set("caption", text(t.caption));
    o.set("heading", text(t.heading));
    o.set("rows", listOf(t.rows, [](const std::vector<design::Cell>& row) {
              return listOf(row, [](const design::Cell& c) {
                  val cell = val::array();
                  cell.call<void>("push", text(c.name));
                  cell.call<void>("push", c.index);
                  return cell;
              });
          }));
    return o;
}

} // namespace

val designOf(const std::string& name)
{
    const design::Window& w = name == "Form1" ? design::form1() : name == "Form2" ? design::form2() : design::form3();
    val o = val::object();
    o.set("name", text(w.name));
    o.set("caption", text(w.caption));
    o.set("client", numbers({design::pixels(w.width), design::pixels(w.height)}));
    o.set("back", colourToJs(w.back));
    o.set("px", design::fontPixels(w.points > 0 ? w.points : design::interfacePoints));
    o.set("controls", listOf(w.controls, controlToJs));
    o.set("lines", listOf(w.lines, lineToJs));
    o.set("menus", listOf(w.menus, menuToJs));
    o.set("tabOrder", listOf(w.tabOrder, text));
    o.set("rowPixels", design::pixels(w.rowStep));
    o.set("tables", listOf(w.tables, tableToJs));
    return o;
}

} // namespace webbind

// SPDX-License-Identifier: GPL-3.0-or-later
// The results window as designed. No window font of its own: 初期化 and "今回の記録" use the
// user-interface font.
#include "rules/design.h"
#include "rules/results_window.h"

namespace design {

namespace {

constexpr Colour paleGreen = 0x80FF80, black = 0x000000;

Window make()
{
    Window w{.name = u"Form3",
             .caption = u"ヌボラ1(m.Tarvo)",
             .width = 4080,
             .height = 6270,
             .back = paleGreen,
             .points = 0};
    auto& c = w.controls;
    c.push_back(
        {Kind::label, u"Label1", -1, u"成績一覧", {120, 120, 1695, 405}, {20.25, true, 0xFF0000, 0x008000}, autoSize});
    c.push_back({Kind::button, u"Command2", -1, u"初期化", {3240, 120, 732, 372}});
    c.push_back(
        {Kind::label, u"Label4", -1, u"ｘの値", {600, 600, 720, 285}, {14.25, false, 0x0000C0, paleGreen}, autoSize});
    c.push_back(
        {Kind::label, u"enz0", -1, u"法", {1560, 600, 1695, 255}, {13.5, false, none, paleGreen, Align::centre}});

    // The lists: element 0 of each array as designed, the other rows copies of it.
    const Look place{15.75, true, none, paleGreen, Align::centre};
    const Look score{15.75, true, none, paleGreen, Align::right};
    const auto row = [&c](std::u16string_view name, std::u16string_view caption, Rect rect, Look look, int rows) {
        c.push_back({Kind::label, name, 0, caption, rect, look, 0, {}, {}, static_cast<std::int16_t>(rows)});
    };
    row(u"jyun", u"１", {240, 1200, 372, 372}, place, results::places);
    row(u"namae", u"名前", {960, 1200, 1935, 375}, {13.5, false, none, paleGreen}, results::places);
    row(u"jikan", u" 0", {3120, 1200, 615, 375}, score, results::places);
    c.push_back({Kind::label,
                 u"Label3",
                 -1,
                 u"あなたの記録",
                 {120, 3840, 1920, 315},
                 {15.75, true, 0x0000FF, 0x00FFFF},
                 autoSize});
    row(u"jyun1", u"1", {2400, 3840, 375, 375}, place, results::runPlaces);
    row(u"jikan1", u" 0", {3120, 3840, 615, 375}, score, results::runPlaces);

    // For screen readers each list is a table named by its heading, each row headed by its place.
    Table best{u"jyun", {}, u"Label1"}, run{u"jyun1", {}, u"Label3"};
    for (std::int16_t i = 0; i < results::places; ++i)
        best.rows.push_back({{u"jyun", i}, {u"namae", i}, {u"jikan", i}});
    for (std::int16_t i = 0; i < results::runPlaces; ++i)
        run.rows.push_back({{u"jyun1", i}, {u"jikan1", i}});
    w.tables = {best, run};

    c.push_back({Kind::label, u"Label2", -1, u"今回の記録", {240, 4440, 972, 252}, {0, false, 0xFF0000, paleGreen}});
    c.push_back({Kind::label, u"jikan9", -1, u"0", {480, 4800, 855, 375}, score});
    c.push_back({Kind::label,
                 u"Label6",
                 -1,
                 u"　１番です。名前を入力して下さい。",
                 {120, 5400, 3852, 372},
                 {12, false, 0x004040, paleGreen}});
    c.push_back({Kind::text, u"Text1", -1, u"", {1320, 5760, 1815, 405}, {13.5, false, none, 0x8080FF}});
    c.push_back({Kind::button, u"Command1", -1, u"戻る", {3240, 5760, 732, 372}, {10.5}});

    // One-pixel rules: the double rule under the best five, and the rule above the name.
    w.lines = {{u"Line2", 120, 3600, 3960, 3600, 1, black},
               {u"Line1", 120, 3720, 3960, 3720, 1, black},
               {u"Line3", 120, 5280, 3960, 5280, 1, black}};
    w.tabOrder = {u"Text1", u"Command1", u"Command2"};
    w.rowStep = 450;
    return w;
}

} // namespace

const Window& form3()
{
    static const Window w = make();
    return w;
}

} // namespace design

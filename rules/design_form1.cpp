// SPDX-License-Identifier: GPL-3.0-or-later
// The game window as designed.
#include "rules/design.h"
#include "rules/question.h"

#include <iterator>

namespace design {

namespace {

constexpr Colour white = 0xFFFFFF, blue = 0x0000FF, navy = 0x000080, yellow = 0xFFFF00;

Window make()
{
    using question::columns;
    Window w{.name = u"Form1",
             .caption = u"ヌボラ1（m.Tarvo)",
             .width = 8700,
             .height = 6015,
             .back = 0x008000,
             .points = 13.5};
    auto& c = w.controls;
    // The table: the x row, then the y row under it.
    const Look cell{27.75, true, white, blue, Align::centre};
    for (std::int16_t i = 0; i < 2 * columns; ++i)
        c.push_back(
            {Kind::label, u"mondai", i, u"", {3120 + 1080 * (i % columns), i < columns ? 360 : 1320, 1095, 735}, cell});
    const Look heading{48, true, white, blue, Align::centre};
    c.push_back({Kind::label, u"Label1", -1, u"ｘ", {2280, 120, 855, 975}, heading});
    c.push_back({Kind::label, u"Label2", -1, u"ｙ", {2280, 1080, 855, 975}, heading});
    const Look strip{0, false, none, blue};
    c.push_back({Kind::label, u"Label3", -1, u"", {3120, 120, 5415, 255}, strip, decoration});
    c.push_back({Kind::label, u"Label4", -1, u"", {3120, 1080, 5415, 255}, strip, decoration});

    static const char16_t* const numbers[] = {u"1", u"2", u"3", u"4", u"5"};
    static const char16_t* const results[] = {u"第1問の結果", u"第2問の結果", u"第3問の結果", u"第4問の結果",
                                              u"第5問の結果"};
    static_assert(std::size(results) == question::questionsPerGame);
    for (std::int16_t i = 0; i < question::questionsPerGame; ++i) {
        const int top = 120 + 360 * i;
        c.push_back({Kind::label, u"bango", i, numbers[i], {120, top, 255, 375}, {20.25, true, white, navy}});
        c.push_back({Kind::label, u"sikiyo", i, u"", {480, top, 375, 375}, {15.75, true, none, yellow}, 0, results[i]});
    }
    c.push_back({Kind::label,
                 u"monbang",
                 -1,
                 u"番  号",
                 {960, 120, 1215, 435},
                 {21.75, true, blue, 0xFF0000},
                 autoSize,
                 u"今の問題"});
    c.push_back({Kind::label,
                 u"tokuten",
                 -1,
                 u"点",
                 {120, 2160, 2655, 2415},
                 {120, true, 0x00FF00, 0x004000},
                 0,
                 u"この問題の残りの点"});

    c.push_back({Kind::button, u"Command1", -1, u"スタート", {2880, 4680, 2055, 855}, {21.75, true}});
    c.push_back({Kind::button, u"Command3", -1, u"ｘの値の表示・変更", {5160, 4680, 2175, 495}, {12}});
    c.push_back({Kind::button, u"Command5", -1, u"終了", {7080, 5280, 1455, 615}, {18, true}});
    c.push_back({Kind::button, u"tokutenyo", -1, u"得点", {120, 4680, 2655, 1215}, {48}, 0, u"今のゲームの得点"});
    c.push_back({Kind::button, u"helpyo", -1, u"説明", {7560, 4680, 975, 495}});

    c.push_back(
        {Kind::frame, u"Frame1", -1, u"ｘとｙの関係は？", {2880, 2160, 5655, 2415}, {20.25, true, 0x0000C0, 0xFF8000}});
    const Look answer{w.points};
    const auto kotae = [&c, &answer](std::int16_t i, std::u16string_view caption, Rect rect) {
        c.push_back({Kind::button, u"kotae", i, caption, rect, answer, 0, {}, u"Frame1"});
    };
    kotae(0, u"ｙはｘに比例", {360, 600, 2415, 495});
    kotae(1, u"ｙはｘに反比例", {3000, 600, 2415, 495});
    kotae(2, u"ｙはｘの一次関数", {360, 1200, 2415, 495});
    kotae(3, u"ｙはｘの２乗に比例", {3000, 1200, 2415, 495});
    kotae(4, u"上の３つには，あてはまらない関係", {1200, 1800, 4215, 495});

    // For screen readers the cells are one table, each row headed by ｘ or ｙ.
    Table table{u"taiouhyou", u"対応表", {}, {{{u"Label1"}}, {{u"Label2"}}}};
    for (std::int16_t i = 0; i < 2 * columns; ++i)
        table.rows[i / columns].push_back({u"mondai", i});
    w.tables = {table};

    w.lines = {{u"Line1", 2280, 1200, 8520, 1200, 5, white}, {u"Line2", 3120, 120, 3120, 2040, 5, white}};
    w.menus = {
        {u"m1", u"ゲーム", {{u"m1a", u"スタート"}, {u"s1", u"-"}, {u"m1c", u"一覧"}, {u"s2", u"-"}, {u"m1d", u"終了"}}},
        {u"m4", u"ｘの値", {}, true},
        {u"m5", u"ヘルプ", {{u"m5c", u"説明"}}},
    };
    w.tabOrder = {u"Command1", u"Command3", u"Command5", u"tokutenyo", u"helpyo",
                  u"kotae(0)", u"kotae(1)", u"kotae(2)", u"kotae(3)",  u"kotae(4)"};
    return w;
}

} // namespace

const Window& form1()
{
    static const Window w = make();
    return w;
}

} // namespace design

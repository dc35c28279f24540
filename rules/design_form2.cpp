// SPDX-License-Identifier: GPL-3.0-or-later
// The help window as designed. No window font of its own: every control sets its own.
#include "rules/design.h"

namespace design {

namespace {

Window make()
{
    Window w{
        .name = u"Form2", .caption = u"ヌボラ1(m.Tarvo)", .width = 6090, .height = 6645, .back = 0x0000FF, .points = 0};
    const Look body{14.25, false, 0x000000, 0x00FF00};
    auto text = [&w](std::u16string_view name, std::u16string_view caption, Rect rect, Look look) {
        w.controls.push_back({Kind::label, name, -1, caption, rect, look, wrap});
    };
    text(u"Label2", u"　 中学校３年間の「関数関係」を  対応表から見つけるゲーム感覚の学習ソフトです。",
         {360, 240, 5550, 1095}, {18, true, 0xFF0000, 0x00FFFF});
    text(u"Label3",
         u"　 「スタート」ボタンをクリックすると，対応表が表示されます。  そこで，ｘとｙの関係を見つけ，"
         u"下のあてはまる関数関係をクリックします。   正解かどうかは，上のリストに○×で表示されます。"
         u"５問解いたら終わりです。",
         {360, 1560, 5535, 1455}, body);
    text(u"Label4",
         u"　 問題が表示されたら，１０→９→８・・・と点数が下がっていきます。速く正解すると得点は高いです。"
         u"５問解いたあと，得点の一覧表が表示されます。Ｂｅｓｔ５に入ると，名前が登録できます。"
         u"その後，「スタート」ボタンをクリックすると再開されます。",
         {360, 3240, 5535, 1815}, body);
    text(u"Label6", u"  ｘの値は，【－２～２】【１～５】【－５～－１】【ランダム】の場合があります。",
         {360, 5280, 5535, 615}, body);
    w.controls.push_back({Kind::button, u"Command1", -1, u"戻る", {4680, 6000, 1095, 540}, {12}});
    w.tabOrder = {u"Command1"};
    return w;
}

} // namespace

const Window& form2()
{
    static const Window w = make();
    return w;
}

} // namespace design

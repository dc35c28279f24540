// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/form2.h"

#include "ui/accessibility.h"
#include "ui/twips.h"

using ui::twipsRect;

namespace {

const QString text1 = QStringLiteral("　 中学校３年間の「関数関係」を  対応表から見つけるゲーム感覚の学習ソフトです。");
const QString text2 = QStringLiteral(
    "　 「スタート」ボタンをクリックすると，対応表が表示されます。  そこで，ｘとｙの関係を見つけ，"
    "下のあてはまる関数関係をクリックします。   正解かどうかは，上のリストに○×で表示されます。"
    "５問解いたら終わりです。");
const QString text3 = QStringLiteral(
    "　 問題が表示されたら，１０→９→８・・・と点数が下がっていきます。速く正解すると得点は高いです。"
    "５問解いたあと，得点の一覧表が表示されます。Ｂｅｓｔ５に入ると，名前が登録できます。"
    "その後，「スタート」ボタンをクリックすると再開されます。");
const QString text4 = QStringLiteral("  ｘの値は，【－２～２】【１～５】【－５～－１】【ランダム】の場合があります。");

} // namespace

// No window font of its own: every control sets its own.
Form2::Form2(windows::Navigation& navigation)
    : ui::Form({.name = QStringLiteral("Form2"),
                .caption = QStringLiteral("ヌボラ1(m.Tarvo)"),
                .clientWidthTwips = 6090,
                .clientHeightTwips = 6645,
                .back = QColor(0x00, 0x00, 0xFF)}),
      navigation(navigation)
{
    QWidget* area = client();
    const QColor green(0x00, 0xFF, 0x00);
    const ui::Look body{14.25, false, Qt::black, green, Qt::AlignLeft};
    auto text = [area](const QString& name, const QString& caption, const QRect& geometry, const ui::Look& look) {
        return new ui::Label(area, {name, caption, geometry, look, false, true});
    };
    Label2 = text(QStringLiteral("Label2"), text1, twipsRect(360, 240, 5550, 1095),
                  {18, true, QColor(0xFF, 0x00, 0x00), QColor(0x00, 0xFF, 0xFF), Qt::AlignLeft});
    Label3 = text(QStringLiteral("Label3"), text2, twipsRect(360, 1560, 5535, 1455), body);
    Label4 = text(QStringLiteral("Label4"), text3, twipsRect(360, 3240, 5535, 1815), body);
    Label6 = text(QStringLiteral("Label6"), text4, twipsRect(360, 5280, 5535, 615), body);
    Command1 = ui::addButton(area, {QStringLiteral("Command1"), QStringLiteral("戻る"),
                                    twipsRect(4680, 6000, 1095, 540), {12}, [this] { Command1_Click(); }});
    Command1->setFocus();
    // A screen reader names the window and 戻る, which has the focus; the four texts are
    // said once after that, each time the window opens.
    QString said;
    for (const ui::Label* label : {Label2, Label3, Label4, Label6})
        said += label->caption().trimmed();
    ui::announceWhenShown(this, said);
}

void Form2::Command1_Click()
{
    navigation.showGame();
    Hide();
}

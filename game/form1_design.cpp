// SPDX-License-Identifier: GPL-3.0-or-later
// The game window's controls and menus as designed: positions in twips, colours, fonts.
#include "game/form1.h"

#include "rules/ranges.h"
#include "ui/accessibility.h"
#include "ui/text.h"
#include "ui/twips.h"

#include <QAction>
#include <QMenu>

using ui::twipsPoint;
using ui::twipsRect;

namespace {

const QColor white(0xFF, 0xFF, 0xFF);
const QColor blue(0x00, 0x00, 0xFF);
const QColor navy(0x00, 0x00, 0x80);
const QColor yellow(0xFF, 0xFF, 0x00);

constexpr double windowFontPoints = 13.5;

} // namespace

Form1::Form1(windows::Navigation& navigation)
    : ui::Form({.name = QStringLiteral("Form1"),
                .caption = QStringLiteral("ヌボラ1（m.Tarvo)"),
                .clientWidthTwips = 8700,
                .clientHeightTwips = 6015,
                .back = QColor(0x00, 0x80, 0x00),
                .fontPoints = windowFontPoints,
                .withMenuBar = true}),
      navigation(navigation)
{
    createControls();
    createMenus();
}

void Form1::createControls()
{
    QWidget* area = client();
    auto label = [area](const ui::LabelDef& def) { return new ui::Label(area, def); };

    const ui::Look cell{27.75, true, white, blue, Qt::AlignHCenter};
    using question::columns;
    for (std::int16_t i = 0; i < 2 * columns; ++i) {
        const int column = i % columns;
        const int top = i < columns ? 360 : 1320; // x row, then the y row under it
        mondai.add(i, label({{}, {}, twipsRect(3120 + 1080 * column, top, 1095, 735), cell}));
    }
    const ui::Look heading{48, true, white, blue, Qt::AlignHCenter};
    Label1 = label({QStringLiteral("Label1"), QStringLiteral("ｘ"), twipsRect(2280, 120, 855, 975), heading});
    Label2 = label({QStringLiteral("Label2"), QStringLiteral("ｙ"), twipsRect(2280, 1080, 855, 975), heading});
    const ui::Look strip{0, false, {}, blue, Qt::AlignLeft};
    Label3 = label({QStringLiteral("Label3"), {}, twipsRect(3120, 120, 5415, 255), strip});
    Label4 = label({QStringLiteral("Label4"), {}, twipsRect(3120, 1080, 5415, 255), strip});

    for (std::int16_t i = 0; i < question::questionsPerGame; ++i) {
        const int top = 120 + 360 * i;
        bango.add(i, label({{}, QString::number(i + 1), twipsRect(120, top, 255, 375),
                            {20.25, true, white, navy, Qt::AlignLeft}}));
        sikiyo.add(i, label({{}, {}, twipsRect(480, top, 375, 375), {15.75, true, {}, yellow, Qt::AlignLeft}}));
    }
    monbang = label({QStringLiteral("monbang"), QStringLiteral("番  号"), twipsRect(960, 120, 1215, 435),
                     {21.75, true, blue, QColor(0xFF, 0x00, 0x00), Qt::AlignLeft}, true});
    tokuten = label({QStringLiteral("tokuten"), QStringLiteral("点"), twipsRect(120, 2160, 2655, 2415),
                     {120, true, QColor(0x00, 0xFF, 0x00), QColor(0x00, 0x40, 0x00), Qt::AlignLeft}});

    Command1 = ui::addButton(area, {QStringLiteral("Command1"), QStringLiteral("スタート"),
                                    twipsRect(2880, 4680, 2055, 855), {21.75, true}, [this] { Command1_Click(); }});
    Command3 = ui::addButton(area, {QStringLiteral("Command3"), QStringLiteral("ｘの値の表示・変更"),
                                    twipsRect(5160, 4680, 2175, 495), {12}, [this] { Command3_Click(); }});
    Command5 = ui::addButton(area, {QStringLiteral("Command5"), QStringLiteral("終了"),
                                    twipsRect(7080, 5280, 1455, 615), {18, true}, [this] { Command5_Click(); }});
    tokutenyo = ui::addButton(area, {QStringLiteral("tokutenyo"), QStringLiteral("得点"),
                                     twipsRect(120, 4680, 2655, 1215), {48}, [this] { tokutenyo_Click(); }});
    helpyo = ui::addButton(area, {QStringLiteral("helpyo"), QStringLiteral("説明"),
                                  twipsRect(7560, 4680, 975, 495), {}, [this] { helpyo_Click(); }});

    Frame1 = new ui::Frame(area, QStringLiteral("Frame1"), QStringLiteral("ｘとｙの関係は？"),
                           twipsRect(2880, 2160, 5655, 2415),
                           {20.25, true, QColor(0x00, 0x00, 0xC0), QColor(0xFF, 0x80, 0x00)});
    struct Answer { const char* caption; int left, top, width; };
    const Answer answers[] = {
        {"ｙはｘに比例", 360, 600, 2415},
        {"ｙはｘに反比例", 3000, 600, 2415},
        {"ｙはｘの一次関数", 360, 1200, 2415},
        {"ｙはｘの２乗に比例", 3000, 1200, 2415},
        {"上の３つには，あてはまらない関係", 1200, 1800, 4215},
    };
    for (std::int16_t i = 0; i < std::int16_t(std::size(answers)); ++i) {
        const Answer& a = answers[i];
        kotae.add(i, ui::addButton(Frame1, {{}, QString::fromUtf8(a.caption), twipsRect(a.left, a.top, a.width, 495),
                                            {windowFontPoints}, [this, i] { kotae_Click(i); }}));
    }

    // For screen readers: the cells as one table headed by ｘ and ｙ, and what the labels and
    // the total button are. Names stay the captions.
    QList<QWidget*> xRow{Label1}, yRow{Label2};
    for (std::int16_t i = 0; i < columns; ++i) {
        xRow.append(&mondai(i));
        yRow.append(&mondai(i + columns));
        ui::describe(&mondai(i), QStringLiteral("ｘの値"));
        ui::describe(&mondai(i + columns), QStringLiteral("ｙの値"));
    }
    ui::makeTable(QStringLiteral("対応表"), {xRow, yRow});
    for (std::int16_t i = 0; i < question::questionsPerGame; ++i)
        ui::describe(&sikiyo(i), QStringLiteral("第%1問の結果").arg(i + 1));
    ui::describe(tokuten, QStringLiteral("この問題の残りの点"));
    ui::describe(tokutenyo, QStringLiteral("今のゲームの得点"));
    ui::describe(monbang, QStringLiteral("今の問題"));

    // Lines last, so that they lie above the labels they cross.
    Line1 = new ui::Line(area, QStringLiteral("Line1"), twipsPoint(2280, 1200), twipsPoint(8520, 1200), 5, white);
    Line2 = new ui::Line(area, QStringLiteral("Line2"), twipsPoint(3120, 120), twipsPoint(3120, 2040), 5, white);

    Timer1 = new ui::Timer(this, QStringLiteral("Timer1"), [this] { Timer1_Timer(); });

    // Keyboard order: Command1, Command3, Command5, tokutenyo, helpyo, kotae(0) .. kotae(4).
    QWidget* order[] = {Command1, Command3, Command5, tokutenyo, helpyo,
                        &kotae(0), &kotae(1), &kotae(2), &kotae(3), &kotae(4)};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    Command1->setFocus();
}

void Form1::createMenus()
{
    m1 = addMenu(QStringLiteral("m1"), QStringLiteral("ゲーム"));
    m1a = addMenuItem(m1, QStringLiteral("m1a"), QStringLiteral("スタート"), [this] { m1a_Click(); });
    addSeparator(m1, QStringLiteral("s1"));
    m1c = addMenuItem(m1, QStringLiteral("m1c"), QStringLiteral("一覧"), [this] { m1c_Click(); });
    addSeparator(m1, QStringLiteral("s2"));
    m1d = addMenuItem(m1, QStringLiteral("m1d"), QStringLiteral("終了"), [this] { m1d_Click(); });

    m4 = addMenu(QStringLiteral("m4"), QStringLiteral("ｘの値"));
    for (std::int16_t i = 0; i < rangeCount; ++i) {
        QAction* item = en.add(i, addMenuItem(m4, {}, ui::qtext(rangeName(i)), [this, i] { en_Click(i); }));
        item->setCheckable(true);
    }

    m5 = addMenu(QStringLiteral("m5"), QStringLiteral("ヘルプ"));
    m5c = addMenuItem(m5, QStringLiteral("m5c"), QStringLiteral("説明"), [this] { m5c_Click(); });
}

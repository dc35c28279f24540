// SPDX-License-Identifier: GPL-3.0-or-later
// The results window's controls as designed: positions in twips, colours, fonts.
#include "results/form3.h"

#include "rules/name_box.h"
#include "ui/text.h"
#include "ui/twips.h"

#include <utility>

using ui::twipsPoint;
using ui::twipsRect;

namespace {

const QColor paleGreen(0x80, 0xFF, 0x80);

} // namespace

// No window font of its own: 初期化 and "今回の記録" use the application's user-interface font.
Form3::Form3(storage::RankingOptions options, classlink::ClassOptions classOptions)
    : ui::Form({.name = QStringLiteral("Form3"),
                .caption = QStringLiteral("ヌボラ1(m.Tarvo)"),
                .clientWidthTwips = 4080,
                .clientHeightTwips = 6270,
                .back = paleGreen}),
      rankingFile(std::move(options)),
      classRanking(classlink::classRanking(rankingFile.options(), classOptions))
{
    createControls();
    connect(this, &ui::Form::unloaded, this, [this] { rankingFile.close(); });
}

void Form3::createControls()
{
    QWidget* area = client();
    auto label = [area](const ui::LabelDef& def) { return new ui::Label(area, def); };

    Label1 = label({QStringLiteral("Label1"), QStringLiteral("成績一覧"), twipsRect(120, 120, 1695, 405),
                    {20.25, true, QColor(0xFF, 0x00, 0x00), QColor(0x00, 0x80, 0x00), Qt::AlignLeft}, true});
    Command2 = ui::addButton(area, {QStringLiteral("Command2"), QStringLiteral("初期化"),
                                    twipsRect(3240, 120, 732, 372), {}, [this] { Command2_Click(); }});
    Label4 = label({QStringLiteral("Label4"), QStringLiteral("ｘの値"), twipsRect(600, 600, 720, 285),
                    {14.25, false, QColor(0x00, 0x00, 0xC0), paleGreen, Qt::AlignLeft}, true});
    enz0 = label({QStringLiteral("enz0"), QStringLiteral("法"), twipsRect(1560, 600, 1695, 255),
                  {13.5, false, {}, paleGreen, Qt::AlignHCenter}});

    const ui::Look place{15.75, true, {}, paleGreen, Qt::AlignHCenter};
    const ui::Look score{15.75, true, {}, paleGreen, Qt::AlignRight};
    jyun.add(0, label({{}, QStringLiteral("１"), twipsRect(240, 1200, 372, 372), place}));
    namae.add(0, label({{}, QStringLiteral("名前"), twipsRect(960, 1200, 1935, 375),
                        {13.5, false, {}, paleGreen, Qt::AlignLeft}}));
    jikan.add(0, label({{}, QStringLiteral(" 0"), twipsRect(3120, 1200, 615, 375), score}));

    Label3 = label({QStringLiteral("Label3"), QStringLiteral("あなたの記録"), twipsRect(120, 3840, 1920, 315),
                    {15.75, true, QColor(0x00, 0x00, 0xFF), QColor(0x00, 0xFF, 0xFF), Qt::AlignLeft}, true});
    jyun1.add(0, label({{}, QStringLiteral("1"), twipsRect(2400, 3840, 375, 375), place}));
    jikan1.add(0, label({{}, QStringLiteral(" 0"), twipsRect(3120, 3840, 615, 375), score}));

    Label2 = label({QStringLiteral("Label2"), QStringLiteral("今回の記録"), twipsRect(240, 4440, 972, 252),
                    {0, false, QColor(0xFF, 0x00, 0x00), paleGreen, Qt::AlignLeft}});
    jikan9 = label({QStringLiteral("jikan9"), QStringLiteral("0"), twipsRect(480, 4800, 855, 375), score});
    Label6 = label({QStringLiteral("Label6"), QStringLiteral("　１番です。名前を入力して下さい。"),
                    twipsRect(120, 5400, 3852, 372),
                    {12, false, QColor(0x00, 0x40, 0x40), paleGreen, Qt::AlignLeft}});

    Text1 = new ui::TextBox(area, QStringLiteral("Text1"), twipsRect(1320, 5760, 1815, 405),
                            {13.5, false, {}, QColor(0x80, 0x80, 0xFF), Qt::AlignLeft});
    Command1 = ui::addButton(area, {QStringLiteral("Command1"), QStringLiteral("戻る"),
                                    twipsRect(3240, 5760, 732, 372), {10.5}, [this] { Command1_Click(); }});

    // One-pixel rules in black: the double rule under the best five, and the rule above the name.
    Line2 = new ui::Line(area, QStringLiteral("Line2"), twipsPoint(120, 3600), twipsPoint(3960, 3600), 1, Qt::black);
    Line1 = new ui::Line(area, QStringLiteral("Line1"), twipsPoint(120, 3720), twipsPoint(3960, 3720), 1, Qt::black);
    Line3 = new ui::Line(area, QStringLiteral("Line3"), twipsPoint(120, 5280), twipsPoint(3960, 5280), 1, Qt::black);

    // What the row shows and the file keeps: composed as Qt composes (NFC), then the game's rule.
    Text1->keep = [](const QString& kept, const QString& edited, qsizetype& cursor) {
        const results::KeptName k = results::keptName(ui::u16(kept), ui::u16(edited), [](std::u16string_view text) {
            return ui::u16(ui::qtext(std::u16string(text)).normalized(QString::NormalizationForm_C));
        });
        cursor = static_cast<qsizetype>(k.cursor);
        return ui::qtext(k.text);
    };
    Text1->onChange = [this] { Text1_Change(); };
    Text1->onKeyPress = [this](std::int16_t& KeyAscii) { Text1_KeyPress(KeyAscii); };

    // Keyboard order: the name box, 戻る, 初期化.
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    Text1->setFocus();
}

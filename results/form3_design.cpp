// SPDX-License-Identifier: GPL-3.0-or-later
// The results window made from its design (rules/design.h): its controls and their handlers.
#include "results/form3.h"

#include "rules/name_box.h"
#include "ui/text.h"
#include "windows/design.h"

#include <utility>

Form3::Form3(storage::RankingOptions options, classlink::ClassOptions classOptions)
    : ui::Form(windows::formDesign(design::form3())), rankingFile(std::move(options)),
      classRanking(classlink::classRanking(rankingFile.options(), classOptions)), classOpts(classOptions)
{
    createControls();
    connect(this, &ui::Form::unloaded, this, [this] { rankingFile.close(); });
}

void Form3::createControls()
{
    const design::Window& d = design::form3();
    QWidget* area = client();
    auto label = [area, &d](std::u16string_view name, int index = -1) {
        return new ui::Label(area, windows::labelDef(d.control(name, index)));
    };
    auto button = [area, &d](std::u16string_view name, std::function<void()> onClick) {
        return ui::addButton(area, windows::buttonDef(d.control(name), std::move(onClick)));
    };

    Label1 = label(u"Label1");
    Command2 = button(u"Command2", [this] { Command2_Click(); });
    Label4 = label(u"Label4");
    enz0 = label(u"enz0");
    jyun.add(0, label(u"jyun", 0));
    namae.add(0, label(u"namae", 0));
    jikan.add(0, label(u"jikan", 0));
    Label3 = label(u"Label3");
    jyun1.add(0, label(u"jyun1", 0));
    jikan1.add(0, label(u"jikan1", 0));
    Label2 = label(u"Label2");
    jikan9 = label(u"jikan9");
    Label6 = label(u"Label6");
    const design::Control& text = d.control(u"Text1");
    Text1 = new ui::TextBox(area, windows::qtext(text.name), windows::rect(text.rect), windows::look(text.look));
    Command1 = button(u"Command1", [this] { Command1_Click(); });

    Line2 = windows::makeLine(area, d.line(u"Line2"));
    Line1 = windows::makeLine(area, d.line(u"Line1"));
    Line3 = windows::makeLine(area, d.line(u"Line3"));

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

    windows::setTabOrder(this, d);
}

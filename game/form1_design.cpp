// SPDX-License-Identifier: GPL-3.0-or-later
// The game window made from its design (rules/design.h): its controls, their handlers and what
// screen readers are told of them, and its menus.
#include "game/form1.h"

#include "rules/ranges.h"
#include "ui/accessibility.h"
#include "ui/text.h"
#include "windows/design.h"

#include <QAction>
#include <QMenu>

#include <map>

using windows::buttonDef;
using windows::labelDef;
using windows::qtext;

Form1::Form1(windows::Navigation& navigation) : ui::Form(windows::formDesign(design::form1())), navigation(navigation)
{
    createControls();
    createMenus();
}

void Form1::createControls()
{
    const design::Window& d = design::form1();
    QWidget* area = client();
    auto label = [area, &d](std::u16string_view name, int index = -1) {
        return new ui::Label(area, labelDef(d.control(name, index)));
    };
    auto button = [area, &d](std::u16string_view name, std::function<void()> onClick) {
        return ui::addButton(area, buttonDef(d.control(name), std::move(onClick)));
    };

    using question::columns;
    for (std::int16_t i = 0; i < 2 * columns; ++i)
        mondai.add(i, label(u"mondai", i));
    Label1 = label(u"Label1");
    Label2 = label(u"Label2");
    Label3 = label(u"Label3");
    Label4 = label(u"Label4");
    for (std::int16_t i = 0; i < question::questionsPerGame; ++i) {
        bango.add(i, label(u"bango", i));
        sikiyo.add(i, label(u"sikiyo", i));
    }
    monbang = label(u"monbang");
    tokuten = label(u"tokuten");

    Command1 = button(u"Command1", [this] { Command1_Click(); });
    Command3 = button(u"Command3", [this] { Command3_Click(); });
    Command5 = button(u"Command5", [this] { Command5_Click(); });
    tokutenyo = button(u"tokutenyo", [this] { tokutenyo_Click(); });
    helpyo = button(u"helpyo", [this] { helpyo_Click(); });

    const design::Control& frame = d.control(u"Frame1");
    Frame1 = new ui::Frame(area, qtext(frame.name), qtext(frame.caption), windows::rect(frame.rect),
                           windows::look(frame.look));
    for (std::int16_t i = 0; i < game::answers; ++i)
        kotae.add(i, ui::addButton(Frame1, buttonDef(d.control(u"kotae", i), [this, i] { kotae_Click(i); })));

    // For screen readers: the cells as the design's table headed by ｘ and ｙ, and what the
    // labels and the total button are. Names stay the captions.
    for (std::int16_t i = 0; i < columns; ++i) {
        ui::describe(&mondai(i), QStringLiteral("ｘの値"));
        ui::describe(&mondai(i + columns), QStringLiteral("ｙの値"));
    }
    windows::makeTables(area, d);
    for (const design::Control& c : d.controls)
        if (!c.description.empty())
            ui::describe(area->findChild<QWidget*>(windows::objectName(c)), qtext(c.description));

    // Lines last, so that they lie above the labels they cross.
    Line1 = windows::makeLine(area, d.line(u"Line1"));
    Line2 = windows::makeLine(area, d.line(u"Line2"));

    Timer1 = new ui::Timer(this, QStringLiteral("Timer1"), [this] { Timer1_Timer(); });
    windows::setTabOrder(this, d);
}

void Form1::createMenus()
{
    const std::map<std::u16string_view, QMenu**> titles{{u"m1", &m1}, {u"m4", &m4}, {u"m5", &m5}};
    const std::map<std::u16string_view, std::pair<QAction**, std::function<void()>>> items{
        {u"m1a", {&m1a, [this] { m1a_Click(); }}},
        {u"m1c", {&m1c, [this] { m1c_Click(); }}},
        {u"m1d", {&m1d, [this] { m1d_Click(); }}},
        {u"m5c", {&m5c, [this] { m5c_Click(); }}},
    };
    for (const design::Menu& menu : design::form1().menus) {
        QMenu* m = *titles.at(menu.name) = addMenu(qtext(menu.name), qtext(menu.caption));
        for (const design::MenuItem& item : menu.items) {
            if (item.caption == u"-") {
                addSeparator(m, qtext(item.name));
                continue;
            }
            const auto& [member, onClick] = items.at(item.name);
            *member = addMenuItem(m, qtext(item.name), qtext(item.caption), onClick);
        }
        for (std::int16_t i = 0; menu.ranges && i < rangeCount; ++i) {
            QAction* range = en.add(i, addMenuItem(m, {}, ui::qtext(rangeName(i)), [this, i] { en_Click(i); }));
            range->setCheckable(true);
        }
    }
}

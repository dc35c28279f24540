// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/form2.h"

#include "ui/accessibility.h"
#include "windows/design.h"

// The help window made from its design (rules/design.h).
Form2::Form2(windows::Navigation& navigation) : ui::Form(windows::formDesign(design::form2())), navigation(navigation)
{
    const design::Window& d = design::form2();
    QWidget* area = client();
    auto text = [area, &d](std::u16string_view name) {
        return new ui::Label(area, windows::labelDef(d.control(name)));
    };
    Label2 = text(u"Label2");
    Label3 = text(u"Label3");
    Label4 = text(u"Label4");
    Label6 = text(u"Label6");
    Command1 = ui::addButton(area, windows::buttonDef(d.control(u"Command1"), [this] { Command1_Click(); }));
    windows::setTabOrder(this, d);
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

#include "results/form3.h"

namespace {

ui::FormDesign design()
{
    ui::FormDesign d;
    d.name = QStringLiteral("Form3");
    d.caption = QStringLiteral("ヌボラ1(m.Tarvo)");
    d.clientWidthTwips = 4080;
    d.clientHeightTwips = 6270;
    d.back = QColor(0x80, 0xFF, 0x80);
    return d;
}

} // namespace

Form3::Form3() : ui::Form(design()) {}

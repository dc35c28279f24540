// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/design.h"

#include "ui/text.h"
#include "ui/twips.h"

#include <string>

namespace windows {

QString qtext(std::u16string_view text)
{
    return ui::qtext(std::u16string(text));
}

QString objectName(const design::Control& c)
{
    return c.index < 0 ? qtext(c.name) : QStringLiteral("%1(%2)").arg(qtext(c.name)).arg(c.index);
}

QColor colour(design::Colour c)
{
    return c == design::none ? QColor() : QColor(QRgb(c));
}

ui::Look look(const design::Look& l)
{
    const Qt::Alignment align = l.align == design::Align::centre  ? Qt::AlignHCenter
                                : l.align == design::Align::right ? Qt::AlignRight
                                                                  : Qt::AlignLeft;
    return {l.points, l.bold, colour(l.text), colour(l.back), align};
}

QRect rect(const design::Rect& r)
{
    return ui::twipsRect(r.left, r.top, r.width, r.height);
}

ui::FormDesign formDesign(const design::Window& w)
{
    return {.name = qtext(w.name),
            .caption = qtext(w.caption),
            .clientWidthTwips = w.width,
            .clientHeightTwips = w.height,
            .back = colour(w.back),
            .fontPoints = w.points,
            .withMenuBar = !w.menus.empty()};
}

ui::LabelDef labelDef(const design::Control& c)
{
    return {c.index < 0 ? qtext(c.name) : QString(),
            qtext(c.caption),
            rect(c.rect),
            look(c.look),
            c.has(design::autoSize),
            c.has(design::wrap)};
}

ui::ButtonDef buttonDef(const design::Control& c, std::function<void()> onClick)
{
    return {c.index < 0 ? qtext(c.name) : QString(), qtext(c.caption), rect(c.rect), look(c.look), std::move(onClick)};
}

ui::Line* makeLine(QWidget* area, const design::Line& l)
{
    return new ui::Line(area, qtext(l.name), ui::twipsPoint(l.x1, l.y1), ui::twipsPoint(l.x2, l.y2), l.width,
                        colour(l.colour));
}

void setTabOrder(QWidget* form, const design::Window& window)
{
    QWidget* previous = nullptr;
    for (std::u16string_view name : window.tabOrder) {
        auto* next = form->findChild<QWidget*>(qtext(name));
        if (previous)
            QWidget::setTabOrder(previous, next);
        else
            next->setFocus();
        previous = next;
    }
}

} // namespace windows

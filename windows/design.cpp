// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/design.h"

#include "ui/accessibility.h"
#include "ui/application.h"
#include "ui/text.h"

#include <string>

namespace windows {

QString qtext(std::u16string_view text)
{
    return ui::qtext(std::u16string(text));
}

static QString objectName(std::u16string_view name, int index)
{
    return index < 0 ? qtext(name) : QStringLiteral("%1(%2)").arg(qtext(name)).arg(index);
}

QString objectName(const design::Control& c)
{
    return objectName(c.name, c.index);
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
    return {l.points > 0 ? design::fontPixels(l.points) : 0, l.bold, colour(l.text), colour(l.back), align};
}

QPoint point(int x, int y)
{
    return QPoint(design::pixels(x), design::pixels(y));
}

void initApplication(QApplication& app)
{
    ui::initApplication(app, design::fontPixels(design::interfacePoints));
}

QRect rect(const design::Rect& r)
{
    return QRect(design::pixels(r.left), design::pixels(r.top), design::pixels(r.width), design::pixels(r.height));
}

ui::FormDesign formDesign(const design::Window& w)
{
    return {.name = qtext(w.name),
            .caption = qtext(w.caption),
            .clientWidth = design::pixels(w.width),
            .clientHeight = design::pixels(w.height),
            .back = colour(w.back),
            .fontPixels = w.points > 0 ? design::fontPixels(w.points) : 0,
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
    return new ui::Line(area, qtext(l.name), point(l.x1, l.y1), point(l.x2, l.y2), l.width, colour(l.colour));
}

void makeTables(QWidget* area, const design::Window& window)
{
    for (const design::Table& table : window.tables) {
        QList<QList<QWidget*>> rows;
        for (const std::vector<design::Cell>& row : table.rows) {
            rows.append(QList<QWidget*>());
            for (const design::Cell& cell : row)
                rows.back().append(area->findChild<QWidget*>(objectName(cell.name, cell.index)));
        }
        ui::makeTable(qtext(table.caption.empty() ? window.control(table.heading).caption : table.caption), rows);
    }
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

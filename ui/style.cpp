// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/style.h"

#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>

namespace ui {

namespace {

// One-pixel dots with one-pixel gaps, in the button's text colour, so that the mark stands
// out against the face whatever the window's ground.
void drawFocusDots(QPainter* painter, const QRect& rect, const QColor& colour)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    QPen pen(colour, 1);
    pen.setDashPattern({1.0, 1.0});
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

// A tick (no box) centred in the check column's square.
void drawTick(QPainter* painter, const QRect& square, const QColor& colour)
{
    const qreal size = qMin(square.width(), square.height()) * 0.6;
    const QPointF origin = QRectF(square).center() - QPointF(size / 2, size / 2);
    QPainterPath tick;
    tick.moveTo(origin + QPointF(0, size * 0.5));
    tick.lineTo(origin + QPointF(size * 0.38, size * 0.88));
    tick.lineTo(origin + QPointF(size, size * 0.12));
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(colour, qMax<qreal>(1.5, size / 5), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(tick);
    painter->restore();
}

} // namespace

Style::Style() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void Style::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                          const QWidget* widget) const
{
    if (element == PE_FrameFocusRect && qobject_cast<const QPushButton*>(widget))
        return; // drawn by drawControl, whatever brought the focus
    if (element == PE_IndicatorCheckBox && qobject_cast<const QMenu*>(widget)) {
        if (option->state & State_On) {
            const bool selected = option->state & State_Selected;
            drawTick(painter, option->rect,
                     option->palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        }
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void Style::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                        const QWidget* widget) const
{
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element == CE_PushButton && (option->state & State_HasFocus)) {
        // Inside the face, clear of the border: the frame's width and one pixel more.
        const int inset = pixelMetric(PM_DefaultFrameWidth, option, widget) + 1;
        drawFocusDots(painter, option->rect.adjusted(inset, inset, -inset, -inset),
                      option->palette.color(QPalette::ButtonText));
    }
}

} // namespace ui

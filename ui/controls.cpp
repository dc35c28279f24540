// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/controls.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTextLayout>
#include <QtMath>

namespace ui {

namespace {

Look withBlackText(Look look)
{
    if (!look.text.isValid())
        look.text = Qt::black;
    return look;
}

} // namespace

Label::Label(QWidget* parent, const LabelDef& def) : QLabel(parent), autoSize(def.autoSize)
{
    setObjectName(def.name);
    setTextFormat(Qt::PlainText);
    applyLook(this, withBlackText(def.look));
    setAlignment(def.look.align | Qt::AlignTop);
    setWordWrap(def.wordWrap);
    setGeometry(def.geometry);
    setCaption(def.caption);
}

void Label::setCaption(const QString& caption)
{
    setText(caption);
    fitCaption();
    if (autoSize)
        resize(sizeHint());
}

void Label::fitCaption()
{
    if (autoSize || wordWrap())
        return;
    if (!condensed)
        designFont = font();
    // Width of the ink from the line's start, including glyphs overhanging their advance.
    auto needed = [this](const QFont& face) {
        const QFontMetricsF metrics(face);
        const QRectF ink = metrics.tightBoundingRect(text());
        return qMax(metrics.horizontalAdvance(text()), ink.right()) - qMin<qreal>(0, ink.left());
    };
    const int available = contentsRect().width();
    const qreal natural = needed(designFont);
    if (text().isEmpty() || natural <= available || available <= 0) {
        if (condensed)
            setFont(designFont);
        condensed = false;
        return;
    }
    QFont face = designFont;
    for (int stretch = qMin(99, int(100.0 * available / natural)); stretch > 1; --stretch) {
        face.setStretch(stretch);
        if (needed(face) <= available)
            break;
    }
    condensed = true;
    setFont(face);
}

Label* Label::cloneAs(const QString& name) const
{
    auto* copy = new Label(parentWidget(), {name, text(), geometry(), {}, autoSize, wordWrap()});
    copy->setFont(condensed ? designFont : font());
    copy->condensed = false;
    copy->fitCaption();
    copy->setPalette(palette());
    copy->setAutoFillBackground(autoFillBackground());
    copy->setAlignment(alignment());
    copy->hide();
    return copy;
}

int Label::lineHeight() const
{
    if (autoSize) {
        const QFontMetricsF metrics(font());
        const qreal below = qMax(metrics.descent(), metrics.tightBoundingRect(text()).bottom());
        return firstBaseline() + qCeil(below);
    }
    const int pixels = font().pixelSize();
    return pixels > 0 ? pixels : QFontMetrics(font()).height();
}

int Label::firstBaseline() const
{
    const QFontMetricsF metrics(font());
    const qreal glyphsAbove = -metrics.tightBoundingRect(text()).top();
    if (autoSize)
        return qCeil(qMax(metrics.ascent(), glyphsAbove));
    const int pixels = font().pixelSize() > 0 ? font().pixelSize() : qRound(metrics.height());
    return qMax(qRound(pixels * 0.86), qCeil(glyphsAbove));
}

qreal Label::layOut(QTextLayout& layout, int width) const
{
    // Unwrapped captions are placed by paintEvent, so that a caption wider than its label
    // still keeps to its alignment and is clipped at the label's edges.
    QTextOption option(wordWrap() ? alignment() & Qt::AlignHorizontal_Mask : Qt::AlignLeft);
    option.setWrapMode(wordWrap() ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    layout.setFont(font());
    layout.setTextOption(option);
    const int baseline = firstBaseline();
    const int height = lineHeight();
    qreal widest = 0;
    layout.beginLayout();
    for (int row = 0;; ++row) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(wordWrap() ? width : qMax(width, 1 << 16));
        line.setPosition(QPointF(0, row * height + baseline - line.ascent()));
        widest = qMax(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return widest;
}

QSize Label::sizeHint() const
{
    QTextLayout layout(text());
    qreal widest = layOut(layout, wordWrap() ? width() : 0);
    if (!wordWrap()) // glyphs that overhang their advance
        widest = qMax(widest, QFontMetricsF(font()).tightBoundingRect(text()).right());
    return QSize(qCeil(widest), qMax(1, layout.lineCount()) * lineHeight());
}

int Label::heightForWidth(int width) const
{
    QTextLayout layout(text());
    layOut(layout, width);
    return qMax(1, layout.lineCount()) * lineHeight();
}

void Label::paintEvent(QPaintEvent*)
{
    if (text().isEmpty())
        return;
    QTextLayout layout(text());
    const QRect area = contentsRect();
    const int width = area.width();
    layOut(layout, width);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        qreal x = 0;
        if (!wordWrap()) {
            if (horizontal & Qt::AlignHCenter)
                x = (width - line.naturalTextWidth()) / 2;
            else if (horizontal & Qt::AlignRight)
                x = width - line.naturalTextWidth();
        }
        line.draw(&painter, QPointF(area.left() + x, area.top()));
    }
}

QPushButton* addButton(QWidget* parent, const ButtonDef& def)
{
    auto* button = new QPushButton(def.caption, parent);
    button->setObjectName(def.name);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    Look fontOnly;
    fontOnly.pixels = def.look.pixels;
    fontOnly.bold = def.look.bold;
    applyLook(button, fontOnly);
    button->setGeometry(def.geometry);
    if (def.onClick)
        QObject::connect(button, &QPushButton::clicked, button, def.onClick);
    return button;
}

Frame::Frame(QWidget* parent, const QString& name, const QString& caption, const QRect& geometry, const Look& look)
    : QGroupBox(caption, parent)
{
    setObjectName(name);
    applyLook(this, look);
    setGeometry(geometry);
}

void Frame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    const QRect border = rect().adjusted(0, top, -1, -1);
    painter.setPen(palette().color(QPalette::Window).darker(160));
    painter.drawRect(border.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Window).lighter(140));
    painter.drawRect(border.adjusted(1, 1, 0, 0));

    const int left = 8;
    const QRect captionRect(left, 0, metrics.horizontalAdvance(title()) + 2, metrics.height());
    painter.fillRect(captionRect, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(captionRect.adjusted(1, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, title());
}

TextBox::TextBox(QWidget* parent, const QString& name, const QRect& geometry, const Look& look) : QLineEdit(parent)
{
    setObjectName(name);
    applyLook(this, withBlackText(look));
    setAlignment(look.align | Qt::AlignVCenter);
    setGeometry(geometry);
    connect(this, &QLineEdit::textChanged, this, [this](const QString& edited) {
        if (adjusting)
            return;
        qsizetype cursor = edited.size();
        kept = keep ? keep(kept, edited, cursor) : edited;
        if (kept != edited) {
            adjusting = true;
            setText(kept);
            setCursorPosition(static_cast<int>(cursor));
            adjusting = false;
        }
        if (onChange)
            onChange();
    });
}

void TextBox::keyPressEvent(QKeyEvent* event)
{
    std::int16_t code = 0;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        code = enterKey;
    else if (event->text().size() == 1)
        code = static_cast<std::int16_t>(event->text().at(0).unicode());
    if (code != 0 && onKeyPress) {
        const QPointer<TextBox> alive(this);
        onKeyPress(code);
        if (!alive || code == 0)
            return; // the handler consumed the key, or closed the window with the box
    }
    QLineEdit::keyPressEvent(event);
}

Line::Line(QWidget* parent, const QString& name, QPoint from, QPoint to, int width, const QColor& color)
    : QWidget(parent), p1(from), p2(to), penWidth(width), penColor(color)
{
    setObjectName(name);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    const int margin = width / 2 + 1;
    setGeometry(QRect(from, to).normalized().adjusted(-margin, -margin, margin, margin));
    raise();
}

void Line::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(penColor, penWidth, Qt::SolidLine, Qt::FlatCap));
    const QPoint origin = geometry().topLeft();
    // Pixel centres: a line of odd width covers width/2 pixels either side of its row.
    const QPointF shift(0.5 - origin.x(), 0.5 - origin.y());
    painter.drawLine(QPointF(p1) + shift, QPointF(p2) + shift);
}

} // namespace ui

#include "ui/controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
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

Label::Label(QWidget* parent, const LabelDef& def)
    : QLabel(parent), autoSize(def.autoSize)
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
    if (autoSize)
        resize(sizeHint());
}

Label* Label::cloneAs(const QString& name) const
{
    LabelDef def;
    def.name = name;
    def.caption = text();
    def.geometry = geometry();
    def.autoSize = autoSize;
    def.wordWrap = wordWrap();
    auto* copy = new Label(parentWidget(), def);
    copy->setFont(font());
    copy->setPalette(palette());
    copy->setAutoFillBackground(autoFillBackground());
    copy->setAlignment(alignment());
    copy->hide();
    return copy;
}

int Label::lineHeight() const
{
    const int pixels = font().pixelSize();
    return pixels > 0 ? pixels : QFontMetrics(font()).height();
}

qreal Label::layOut(QTextLayout& layout, int width) const
{
    // Unwrapped captions are placed by paintEvent, so that a caption wider than its label
    // still keeps to its alignment and is clipped at the label's edges.
    QTextOption option(wordWrap() ? alignment() & Qt::AlignHorizontal_Mask : Qt::AlignLeft);
    option.setWrapMode(wordWrap() ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    layout.setFont(font());
    layout.setTextOption(option);
    // Each line's baseline sits where a font of one em ascent plus descent puts it.
    const int ascent = qRound(lineHeight() * 0.86);
    qreal widest = 0;
    layout.beginLayout();
    for (int row = 0;; ++row) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(wordWrap() ? width : qMax(width, 1 << 16));
        line.setPosition(QPointF(0, row * lineHeight() + ascent - line.ascent()));
        widest = qMax(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return widest;
}

QSize Label::sizeHint() const
{
    QTextLayout layout(text());
    const qreal widest = layOut(layout, wordWrap() ? width() : 0);
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
    const int width = contentsRect().width();
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
        line.draw(&painter, QPointF(x, 0));
    }
}

QPushButton* addButton(QWidget* parent, const ButtonDef& def)
{
    auto* button = new QPushButton(def.caption, parent);
    button->setObjectName(def.name);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    Look fontOnly;
    fontOnly.points = def.look.points;
    fontOnly.bold = def.look.bold;
    applyLook(button, fontOnly);
    button->setGeometry(def.geometry);
    return button;
}

Frame::Frame(QWidget* parent, const QString& name, const QString& caption, const QRect& geometry,
             const Look& look)
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

TextBox::TextBox(QWidget* parent, const QString& name, const QRect& geometry, const Look& look)
    : QLineEdit(parent)
{
    setObjectName(name);
    applyLook(this, withBlackText(look));
    setAlignment(look.align | Qt::AlignVCenter);
    setGeometry(geometry);
    connect(this, &QLineEdit::textChanged, this, [this] {
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
    setAccessibleName(name);
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

namespace {

// Lines are separators; the program's windows are windows (named by their titles) rather
// than the anonymous panes plain top-level widgets would be.
QAccessibleInterface* ownAccessibility(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String("ui::Line"))
        return new QAccessibleWidget(widget, QAccessible::Separator);
    if (className == QLatin1String("ui::Form") && widget->isWindow())
        return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static bool installed = false;
    if (!installed) {
        QAccessible::installFactory(ownAccessibility);
        installed = true;
    }
}

} // namespace ui

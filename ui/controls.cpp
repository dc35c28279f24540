#include "ui/controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPainter>

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

QGroupBox* addFrame(QWidget* parent, const QString& name, const QString& caption,
                    const QRect& geometry, const Look& look)
{
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(name);
    applyLook(frame, look);
    frame->setGeometry(geometry);
    return frame;
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
        code = 13;
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

QAccessibleInterface* lineAccessibility(const QString& className, QObject* object)
{
    if (className == QLatin1String("ui::Line") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Separator);
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static bool installed = false;
    if (!installed) {
        QAccessible::installFactory(lineAccessibility);
        installed = true;
    }
}

} // namespace ui

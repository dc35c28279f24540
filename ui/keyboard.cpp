// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/keyboard.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>

namespace ui {

namespace {

class EnterPressesFocusedButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        auto* button = qobject_cast<QPushButton*>(watched);
        if (modifiers != Qt::NoModifier || !button || !button->hasFocus())
            return false;
        if (qobject_cast<QDialog*>(button->window()))
            return false; // message boxes: Enter presses their default button
        if (!key->isAutoRepeat() && button->isEnabled() && button->isVisible())
            button->click();
        return true;
    }
};

} // namespace

void installButtonKeys()
{
    static QPointer<EnterPressesFocusedButton> filter;
    if (!filter) {
        filter = new EnterPressesFocusedButton(qApp);
        qApp->installEventFilter(filter);
    }
}

} // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/keyboard.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace ui {

namespace {

bool pressesButtons(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape || key == Qt::Key_Space;
}

class ButtonKeys : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A key event comes here for the widget it is sent to, then for each parent it goes on to.
        if ((event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) || !watched->isWidgetType())
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (!pressesButtons(key->key()))
            return false;
        if (event->type() == QEvent::KeyRelease) {
            lastRelease = {key->key(), key->timestamp()};
            return false;
        }
        if (heldDown(*key))
            return !(key->key() == Qt::Key_Space && qobject_cast<QLineEdit*>(watched)); // typed on
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        auto* button = qobject_cast<QPushButton*>(watched);
        if (modifiers != Qt::NoModifier || !button || !button->hasFocus())
            return false;
        if (qobject_cast<QDialog*>(button->window()))
            return false; // message boxes: Enter presses their default button
        if (button->isEnabled() && button->isVisible())
            button->click();
        return true;
    }

private:
    // A key held down repeats as a release and a press with the same time stamp. Qt marks
    // both as repeats only when it has read the press by the time it handles the release,
    // which a busy program may not have: the time stamps tell the others. (Events made by the
    // program itself have none.)
    bool heldDown(const QKeyEvent& key) const
    {
        return key.isAutoRepeat()
               || (key.timestamp() != 0 && key.key() == lastRelease.key && key.timestamp() == lastRelease.time);
    }

    struct {
        int key = 0;
        quint64 time = 0;
    } lastRelease;
};

} // namespace

void installButtonKeys()
{
    static QPointer<ButtonKeys> filter;
    if (!filter) {
        filter = new ButtonKeys(qApp);
        qApp->installEventFilter(filter);
    }
}

} // namespace ui

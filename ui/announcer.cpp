// SPDX-License-Identifier: GPL-3.0-or-later
// Announcements: what the screen reader says without the focus moving.
#include "ui/announcer.h"

#include "ui/accessibility.h"

#include <QEvent>

namespace ui {

Announcer::Announcer(QWidget* window) : QWidget(window)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 1, 1);
    hide();
    window->installEventFilter(this);
    retire.setSingleShot(true);
    retire.setInterval(3000);
    connect(&retire, &QTimer::timeout, this, &QWidget::hide);
    activation.setSingleShot(true);
    activation.setInterval(1000);
    connect(&activation, &QTimer::timeout, this, &Announcer::flush);
}

void Announcer::add(const QString& text)
{
    pending.append(text);
    if (!posted) {
        posted = true;
        QTimer::singleShot(0, this, [this] {
            posted = false;
            flush();
        });
    }
}

bool Announcer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window() && event->type() == QEvent::Show) {
        activation.start();
        // Shown by the program, not given back by the window system (a window restored
        // from the task bar says nothing new).
        if (!event->spontaneous() && !onShow.isEmpty())
            add(onShow);
    } else if (watched == window() && event->type() == QEvent::Hide) {
        // Gone with the window: shown again with it, it would be spoken again.
        retire.stop();
        hide();
    } else if (watched == window() && event->type() == QEvent::WindowActivate && activation.isActive()) {
        QTimer::singleShot(0, this, [this] {
            activation.stop();
            flush();
        });
    }
    return false;
}

void Announcer::flush()
{
    if (pending.isEmpty() || !window()->isVisible() || activation.isActive())
        return;
    last = pending.join(QString());
    pending.clear();
    setAccessibleName(last);
    hide();
    show();
    retire.start();
}

namespace {

Announcer* announcerOf(const QWidget* window)
{
    if (window)
        for (QObject* child : window->children())
            if (auto* announcer = dynamic_cast<Announcer*>(child))
                return announcer;
    return nullptr;
}

Announcer& announcerFor(QWidget* window)
{
    Announcer* announcer = announcerOf(window);
    return announcer ? *announcer : *new Announcer(window);
}

} // namespace

void announce(QWidget* window, const QString& text)
{
    if (window && !text.isEmpty())
        announcerFor(window->window()).add(text);
}

void announceWhenShown(QWidget* window, const QString& text)
{
    if (window)
        announcerFor(window->window()).onShow = text;
}

QString lastAnnouncement(const QWidget* window)
{
    const Announcer* announcer = announcerOf(window ? window->window() : nullptr);
    return announcer ? announcer->last : QString();
}

} // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace ui {

// A window's timer. A non-zero interval (ms) starts it afresh, the first tick one full
// interval later; 0 stops it. Ticks arrive through the event queue like clicks, at
// millisecond precision so that no countdown runs fast or slow.
class Timer : public QObject {
    Q_OBJECT
public:
    Timer(QObject* parent, const QString& name, std::function<void()> onTimer);

    void setInterval(int milliseconds);
    int interval() const { return ms; }
    bool isRunning() const { return timer.isActive(); }
    // Milliseconds until the next tick; -1 when stopped.
    int remaining() const { return timer.remainingTime(); }

private:
    QTimer timer;
    int ms = 0;
};

} // namespace ui

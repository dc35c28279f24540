// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/timer.h"

namespace ui {

Timer::Timer(QObject* parent, const QString& name, std::function<void()> onTimer) : QObject(parent)
{
    setObjectName(name);
    timer.setParent(this); // so that tools can find the clock behind the window's timer
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, std::move(onTimer));
}

void Timer::setInterval(int milliseconds)
{
    ms = milliseconds > 0 ? milliseconds : 0;
    if (ms > 0)
        timer.start(ms);
    else
        timer.stop();
}

} // namespace ui

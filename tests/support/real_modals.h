// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/services.h"

#include <QObject>

#include <functional>

class QWidget;

// Real message boxes and modal windows, each in its own nested event loop, in place of the
// stand-ins until destroyed. From a timer inside each loop, onOpen gets the box or window to
// answer (one closed with its window meanwhile is not handed over).
class RealModals {
public:
    explicit RealModals(std::function<void(QWidget& modal)> onOpen);
    ~RealModals() { ui::services() = saved; }

    int opened = 0; // nested loops entered

private:
    void answerFromLoop(QWidget* window);

    std::function<void(QWidget&)> onOpen;
    ui::Services saved;
    QObject timers; // no answer outlives this
};

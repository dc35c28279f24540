#pragma once

#include "ui/services.h"

#include <QObject>

#include <functional>

class QWidget;

// Puts the real message boxes and modal windows back in place of the stand-ins, so that each
// runs its own nested event loop as in the program. Once such a loop runs, onOpen is called
// from a timer inside it with the box or window; it should close it, directly or by what it
// does (a box that closes with its window needs no answer). The services in place before
// come back when this is destroyed.
class RealModals {
public:
    explicit RealModals(std::function<void(QWidget& modal)> onOpen);
    ~RealModals();
    RealModals(const RealModals&) = delete;
    RealModals& operator=(const RealModals&) = delete;

    int opened = 0; // nested loops entered so far

private:
    void answerFromLoop(QWidget* window);

    std::function<void(QWidget&)> onOpen;
    ui::Services saved;
    QObject timers; // owns the pending answers, so none outlives this
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/real_modals.h"

#include "ui/form.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>

RealModals::RealModals(std::function<void(QWidget&)> onOpen) : onOpen(std::move(onOpen)), saved(ui::services())
{
    const ui::Services real = ui::realServices();
    ui::services().messageBox = [this, real](const ui::Message& m) {
        return answerFromLoop(nullptr), real.messageBox(m);
    };
    ui::services().runModal = [this, real](ui::Form& form) { answerFromLoop(&form), real.runModal(form); };
}

void RealModals::answerFromLoop(QWidget* window)
{
    ++opened;
    // The timer fires first inside the loop about to start, where a box is the innermost modal widget.
    QTimer::singleShot(0, &timers, [this, known = QPointer<QWidget>(window), isBox = !window] {
        QWidget* modal = isBox ? QApplication::activeModalWidget() : known.data();
        if (modal && modal->isVisible())
            onOpen(*modal);
    });
}

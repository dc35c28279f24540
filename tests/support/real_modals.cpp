#include "support/real_modals.h"

#include "ui/form.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>

RealModals::RealModals(std::function<void(QWidget&)> onOpen) : onOpen(std::move(onOpen)), saved(ui::services())
{
    const ui::Services real = ui::realServices();
    ui::services().messageBox = [this, real](const ui::Message& m) {
        answerFromLoop(nullptr);
        return real.messageBox(m);
    };
    ui::services().runModal = [this, real](ui::Form& form) {
        answerFromLoop(&form);
        real.runModal(form);
    };
}

RealModals::~RealModals()
{
    ui::services() = saved;
}

void RealModals::answerFromLoop(QWidget* window)
{
    ++opened;
    // The timer first fires inside the loop about to start; a message box is then the
    // innermost modal widget.
    QTimer::singleShot(0, &timers, [this, known = QPointer<QWidget>(window), isBox = window == nullptr] {
        QWidget* modal = isBox ? QApplication::activeModalWidget() : known.data();
        if (modal && modal->isVisible())
            onOpen(*modal);
    });
}

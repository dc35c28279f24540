// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/form.h"

#include "ui/look.h"
#include "ui/services.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace ui {

namespace {

// The program's windows that have been active, in the order they were last active, the
// latest last.
QList<QPointer<Form>> activeOrder;

// Nested loops running now, and the windows unloaded meanwhile that wait to be destroyed.
int nestedLoops = 0;
QList<QPointer<Form>> unloadedInLoops;

void destroyWhenSafe(Form* form)
{
    if (nestedLoops == 0)
        form->deleteLater(); // Qt runs it once control is back in the loop that is running now
    else
        unloadedInLoops.push_back(form);
}

} // namespace

Form::Form(const FormDesign& design)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(design.name);
    setWindowTitle(design.caption);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    if (design.withMenuBar) {
        menus = new QMenuBar(this);
        menus->setObjectName(design.name + QStringLiteral(".menu"));
        menus->setNativeMenuBar(false);
        layout->setMenuBar(menus);
    }

    clientArea = new QWidget(this);
    clientArea->setObjectName(design.name + QStringLiteral(".client"));
    clientArea->setFixedSize(design.clientWidth, design.clientHeight);
    applyLook(clientArea, {.pixels = design.fontPixels, .back = design.back});
    layout->addWidget(clientArea);
}

Form::~Form() = default;

void Form::Show(bool modal)
{
    if (unloadedFlag)
        return;
    if (!loaded) {
        loaded = true;
        Form_Load();
        if (unloadedFlag)
            return;
    }
    if (modal && !isVisible())
        setWindowModality(Qt::ApplicationModal);
    placeOnScreen();
    if (isVisible())
        raise(); // already shown: only brought to the front
    else
        show();
    activateWindow();
    if (!activeOrder.contains(this)) {
        // The first display counts as an activation even where the window system sends none.
        QTimer::singleShot(0, this, [this] {
            if (!activeOrder.contains(this) && isVisible())
                windowActivated();
        });
    }
    if (modal) {
        const NestedLoop loop;
        services().runModal(*this);
    }
}

void Form::Hide()
{
    hide();
}

void Form::Unload()
{
    if (unloadedFlag)
        return;
    unloadedFlag = true;
    hide();
    emit unloaded();
    destroyWhenSafe(this);
}

void Form::windowActivated()
{
    // Not when this window was the last of the program's to be active (a message box closed,
    // or the user came back from another application).
    const bool fire = activeOrder.isEmpty() || activeOrder.back() != this;
    activeOrder.removeIf([this](const QPointer<Form>& f) { return !f || f == this; });
    activeOrder.push_back(this);
    if (fire)
        QMetaObject::invokeMethod(
            this, [this] { Form_Activate(); }, Qt::QueuedConnection);
}

Form* Form::owningWindow()
{
    // A message box that is active belongs to the window it was opened over.
    QWidget* w = QApplication::activeWindow();
    while (w && !qobject_cast<Form*>(w))
        w = w->parentWidget() ? w->parentWidget()->window() : nullptr;
    if (w)
        return static_cast<Form*>(w)->isUnloaded() ? nullptr : static_cast<Form*>(w);
    // None is active (between two windows): the one active last that is still there.
    for (auto f = activeOrder.crbegin(); f != activeOrder.crend(); ++f)
        if (*f && !(*f)->isUnloaded())
            return f->data();
    return nullptr;
}

QMenu* Form::addMenu(const QString& name, const QString& title)
{
    QMenu* menu = menus->addMenu(title);
    menu->setObjectName(name);
    menu->menuAction()->setObjectName(name);
    return menu;
}

QAction* Form::addMenuItem(QMenu* menu, const QString& name, const QString& caption, std::function<void()> onClick)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [onClick = std::move(onClick)] { onClick(); });
    return action;
}

void Form::addSeparator(QMenu* menu, const QString& name)
{
    menu->addSeparator()->setObjectName(name);
}

bool Form::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && !unloadedFlag)
        windowActivated();
    return QWidget::event(event);
}

void Form::closeEvent(QCloseEvent* event)
{
    event->ignore();
    closedByFrame();
}

void Form::placeOnScreen()
{
    if (placed)
        return;
    placed = true;
    adjustSize();
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

NestedLoop::NestedLoop()
{
    ++nestedLoops;
}

NestedLoop::~NestedLoop()
{
    if (--nestedLoops > 0)
        return;
    const QList<QPointer<Form>> waiting = std::exchange(unloadedInLoops, {});
    for (const QPointer<Form>& form : waiting)
        if (form)
            form->deleteLater();
}

} // namespace ui

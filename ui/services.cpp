// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/services.h"

#include "ui/form.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace ui {

namespace {

std::mt19937_64& engine()
{
    static std::mt19937_64 generator(0);
    return generator;
}

Answer showMessageBox(const Message& message)
{
    QString text = message.text;
    text.replace(QChar(13), QChar(10));
    // On the heap and watched: the box is destroyed exactly once, here or with its window.
    const QPointer<QMessageBox> box =
        new QMessageBox(message.icon == Icon::Question ? QMessageBox::Question : QMessageBox::Warning, message.title,
                        text, QMessageBox::NoButton, message.owner);
    box->setObjectName(QStringLiteral("MsgBox"));
    box->setTextFormat(Qt::PlainText);
    if (message.buttons == Buttons::OkCancel) {
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box->setDefaultButton(QMessageBox::Cancel);
        box->setEscapeButton(QMessageBox::Cancel);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
        box->setEscapeButton(QMessageBox::Ok);
    }
    if (message.owner)
        QObject::connect(message.owner, &Form::unloaded, box, &QDialog::reject);
    const int result = box->exec();
    const bool ok = box && result == QMessageBox::Ok;
    delete box.data();
    return ok ? Answer::Ok : Answer::Cancel;
}

void waitUntilUnloaded(Form& form)
{
    if (form.isUnloaded())
        return;
    QEventLoop loop;
    QObject::connect(&form, &Form::unloaded, &loop, &QEventLoop::quit);
    QObject::connect(&form, &QObject::destroyed, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

Services realServices()
{
    Services s;
    s.messageBox = showMessageBox;
    s.beep = [] { QApplication::beep(); };
    s.randomize = [] {
        const auto now = std::chrono::system_clock::now().time_since_epoch().count();
        engine().seed(static_cast<std::uint64_t>(now));
    };
    // 53 random bits scaled by 2^-53: never 1.0.
    s.rnd = [] { return static_cast<double>(engine()() >> 11) * 0x1.0p-53; };
    s.newSeed = [] { return static_cast<std::uint32_t>(engine()() >> 32); };
    s.runModal = waitUntilUnloaded;
    s.end = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    return s;
}

Services& services()
{
    static Services current = realServices();
    return current;
}

Answer MsgBox(const QString& text, const QString& title, Icon icon, Buttons buttons)
{
    const QPointer<Form> owner = Form::owningWindow();
    const bool owned = owner;
    const NestedLoop loop;
    const Answer answer = services().messageBox(Message{text, title, icon, buttons, owner});
    // Whatever closed the box, a window unloaded meanwhile takes no answer: its handler,
    // resuming, finds Cancel.
    if (owned && (!owner || owner->isUnloaded()))
        return Answer::Cancel;
    return answer;
}

void Beep()
{
    services().beep();
}
void Randomize()
{
    services().randomize();
}
double Rnd()
{
    return services().rnd();
}
std::uint32_t NewSeed()
{
    return services().newSeed();
}
void End()
{
    services().end();
}

} // namespace ui

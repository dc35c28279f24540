// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/game_fixture.h"

#include "support/draws.h"
#include "support/events.h"

#include "game/form1.h"
#include "rules/module1.h"

#include <QCoreApplication>

namespace {

QtMessageHandler previousHandler = nullptr;

// The headless platform says so whenever a window already on screen is brought to the front,
// and whenever a real message box is shown.
void dropRaiseNotices(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message == QLatin1String("This plugin does not support raise()")
        || message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    previousHandler(type, context, message);
}

} // namespace

GameFixture::GameFixture() : fake(std::make_unique<FakeServices>())
{
    if (!previousHandler)
        previousHandler = qInstallMessageHandler(dropRaiseNotices);
    Module1::reset();
    wiring.form1().Show();
    settle();
}

GameFixture::~GameFixture()
{
    wiring.destroyAll();
    settle();
    Module1::reset();
}

QString GameFixture::rankingPath() const
{
    return places.programFile();
}

Form1& GameFixture::form()
{
    return wiring.form1();
}

void GameFixture::scriptProportionalQuestions(int count)
{
    for (int i = 0; i < count; ++i)
        scriptQuestionOfKind(0);
}

void GameFixture::scriptQuestionOfKind(int kankei)
{
    auto& d = fake->draws;
    switch (kankei) {
    case 0: d.insert(d.end(), {drawFor(0, 10), drawFor(6, 9)}); break;                               // y = 2x
    case 1: d.insert(d.end(), {drawFor(3, 10), drawFor(0, 3), 0.9}); break;                          // y = 6/x
    case 2: d.insert(d.end(), {drawFor(6, 10), drawFor(6, 9), drawFor(5, 9)}); break;                // y = 2x + 1
    case 3: d.insert(d.end(), {drawFor(9, 10), 0.25, drawFor(4, 7)}); break;                         // y = x^2
    default: d.insert(d.end(), {drawFor(9, 10), 0.75, drawFor(5, 9), drawFor(5, 9), drawFor(4, 9)}); // x^2 + x
    }
}

void GameFixture::settle()
{
    settleEvents();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/fake_services.h"

#include "rules/design.h"
#include "support/draws.h"

#include "ui/application.h"
#include "ui/form.h"

#include <QApplication>
#include <QTest>

FakeServices::FakeServices() : saved(ui::services())
{
    ui::Services& s = ui::services();
    s.messageBox = [this](const ui::Message& m) {
        messages.push_back(m);
        if (onMessage)
            onMessage(m);
        if (answers.empty())
            return ui::Answer::Ok;
        const ui::Answer a = answers.front();
        answers.pop_front();
        return a;
    };
    s.beep = [this] { ++beeps; };
    s.randomize = [this] { ++randomizeCalls; };
    s.rnd = [this] {
        ++drawsTaken;
        return nextDraw(draws);
    };
    s.newSeed = [this] { return seed; };
    s.scriptedDraws = true;
    s.runModal = [this](ui::Form& form) {
        modalForms.push_back(form.objectName());
        if (onModal)
            onModal(form);
        else
            form.Unload();
    };
    s.end = [this] { ended = true; };
}

FakeServices::~FakeServices()
{
    ui::services() = saved;
}

int FakeServices::countTitled(const QString& title) const
{
    int n = 0;
    for (const ui::Message& m : messages)
        n += m.title == title;
    return n;
}

void FakeServicesTest::initTestCase()
{
    ui::initApplication(*qApp, design::fontPixels(design::interfacePoints));
}

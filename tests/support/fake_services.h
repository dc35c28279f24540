// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/services.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

// Stands in for the player and the system while a test runs: records message boxes and
// beeps, answers message boxes from a script, supplies scripted random draws, and says what
// happens while a modal window shows. The real services come back when it is destroyed.
class FakeServices {
public:
    FakeServices();
    ~FakeServices();
    FakeServices(const FakeServices&) = delete;
    FakeServices& operator=(const FakeServices&) = delete;

    std::vector<ui::Message> messages;                 // every message box shown, in order
    std::deque<ui::Answer> answers;                    // answers to the next message boxes; OK when empty
    std::function<void(const ui::Message&)> onMessage; // runs while a message box "shows"
    int beeps = 0;
    int randomizeCalls = 0;
    std::deque<double> draws; // the next random draws; a draw from an empty script fails
    int drawsTaken = 0;
    std::uint32_t seed = 0; // the seed of every new game (its questions take `draws`)
    bool ended = false;     // End was called
    QStringList modalForms; // object names of the windows shown modally
    // What happens while a modal window shows; it should unload the window. When unset,
    // the window is unloaded at once, as if closed by its frame.
    std::function<void(ui::Form&)> onModal;

    // Messages shown so far with this title.
    int countTitled(const QString& title) const;

private:
    ui::Services saved;
};

// The window layer's tests' fixture: the application set up once, and FakeServices in place
// for each test function and each row of its data.
class FakeServicesTest : public QObject {
    Q_OBJECT

protected:
    std::optional<FakeServices> fake;

protected slots:
    void initTestCase();
    void init() { fake.emplace(); }
    void cleanup() { fake.reset(); }
};

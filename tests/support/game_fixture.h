#pragma once

#include "support/fake_services.h"

#include <QTemporaryDir>

#include <deque>
#include <memory>

class Form1;

// A fresh game window, loaded and shown headless, with FakeServices in place, the shared
// state back at its start-up values and the ranking file kept in a temporary directory.
// Windows left open are destroyed afterwards.
class GameFixture {
public:
    GameFixture();
    ~GameFixture();

    Form1& form();
    FakeServices& services() { return *fake; }

    // Draws that make every coming question a proportion y = 2x (two draws each).
    void scriptProportionalQuestions(int count);
    // Draws for one question of the given kind; button `right` answers it.
    void scriptQuestionOfKind(int kankei);

    // Where the ranking file is kept during the test.
    QString rankingPath() const;

    // Runs what is waiting in the event queue (activations are delivered from there).
    static void settle();

private:
    std::unique_ptr<FakeServices> fake;
    QTemporaryDir rankingDir;
};

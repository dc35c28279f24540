// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classlink/class_ranking.h"
#include "storage/ranking_file.h"
#include "windows/navigation.h"

#include <QPointer>

class Form1;
class Form2;
class Form3;

namespace app {

// The program's three windows, wired to one another: each exists at most once, and one that
// is missing, or has been unloaded, is created afresh when asked for, with this object as its
// Navigation. The only place that knows all three; main() and the tests each make one.
// Destroying it destroys the windows that are still there (nothing is saved).
class Windows final : public windows::Navigation {
public:
    explicit Windows(storage::RankingOptions options = {});
    ~Windows();
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;

    Form1& form1();
    Form2& form2();
    Form3& form3();

    bool helpExists() const;
    bool resultsExist() const;

    void showResults(bool modal) override;
    void showGame() override;
    void showHelp() override;

    // Where each results window created from now on keeps the ranking file, and how it meets
    // other running copies.
    storage::RankingOptions& rankingOptions() { return options; }
    // How long each results window created from now on waits for the class server.
    classlink::ClassOptions& classOptions() { return classOpts; }

    // Destroys every window at once.
    void destroyAll();

private:
    // A new game's seed: the next ticket of the class's stock on a class link (an empty stock
    // is filled first, waiting for the server as reading the lists does), else ui::NewSeed.
    std::uint32_t drawSeed();

    storage::RankingOptions options;
    QString ticket; // the ticket the game window's last game was drawn from
    classlink::ClassOptions classOpts;
    QPointer<Form1> gameWindow;
    QPointer<Form2> helpWindow;
    QPointer<Form3> resultsWindow;
};

} // namespace app

// SPDX-License-Identifier: GPL-3.0-or-later
// Measures when the countdown ticks come in the real game window: the interval between ticks,
// the time from setting a question to its time-out, and the drift over a game of five
// time-outs. Message boxes are answered at once and the results window is closed at once,
// so that nothing waits on a person; everything else is the program as the player runs it.
#include "app/windows.h"
#include "game/form1.h"
#include "ui/form.h"
#include "ui/services.h"
#include "windows/design.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

class TickRecorder : public QObject {
public:
    explicit TickRecorder(std::function<void()> onTick) : onTick(std::move(onTick)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Timer)
            onTick();
        return false;
    }

private:
    std::function<void()> onTick;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    windows::initApplication(app);
    ui::services().messageBox = [](const ui::Message&) { return ui::Answer::Ok; };
    ui::services().beep = [] {};
    ui::services().runModal = [](ui::Form& form) { form.Unload(); };
    ui::services().end = [] { QCoreApplication::exit(0); };
    QTemporaryDir rankingDir; // the game's end opens the results window, which reads the file
    storage::RankingOptions options;
    options.programDirectory = options.fallbackDirectory = rankingDir.path();
    app::Windows windows(options);

    Form1& game = windows.form1();
    game.Show();

    QElapsedTimer clock;
    std::vector<double> ticks; // ms since Start
    int games = 0;
    // Each tick is timed as its timer event arrives, before the game's handler runs (at the
    // last time-out that handler opens the results window, which takes a few milliseconds).
    TickRecorder recorder([&] { ticks.push_back(clock.nsecsElapsed() / 1e6); });
    game.Timer1->findChild<QTimer*>()->installEventFilter(&recorder);

    QTimer::singleShot(500, [&] {
        clock.start();
        game.Command1_Click();
    });
    // The game is over when the answer buttons are disabled again after the fifth time-out.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (ticks.size() >= 55 && !game.kotae(0).isEnabled()) {
            ++games;
            QCoreApplication::exit(0);
        }
    });
    poll.start(100);
    app.exec();

    // Question q is set at Start (q = 0) or at the time-out that ended the one before; its
    // tick k is due 2000 k ms after that.
    std::vector<double> intervals;
    double previous = 0;
    double worstMark = 0;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        intervals.push_back(ticks[i] - previous);
        previous = ticks[i];
        const std::size_t q = i / 11;
        const double setAt = q == 0 ? 0.0 : ticks[q * 11 - 1];
        worstMark = std::max(worstMark, std::fabs(ticks[i] - setAt - 2000.0 * double(i % 11 + 1)));
    }
    std::vector<double> sorted = intervals;
    std::sort(sorted.begin(), sorted.end());
    double worst = 0;
    for (double i : intervals)
        worst = std::max(worst, std::fabs(i - 2000.0));
    std::printf("ticks: %zu over %d game(s) of five time-outs\n", ticks.size(), games);
    std::printf(
        "tick interval: median %.3f ms, min %.3f ms, max %.3f ms, worst deviation %.3f ms (target 2000 +- 10)\n",
        sorted[sorted.size() / 2], sorted.front(), sorted.back(), worst);
    std::printf("worst distance of a tick from its 2-second mark: %.3f ms (target <= 5)\n", worstMark);
    double worstTimeout = 0;
    for (int q = 0; q < 5; ++q) {
        const double setAt = q == 0 ? 0.0 : ticks[q * 11 - 1];
        const double timeout = ticks[q * 11 + 10];
        worstTimeout = std::max(worstTimeout, std::fabs(timeout - setAt - 22000.0));
        std::printf("question %d: time-out %.3f s after it was set (target 22.000 +- 0.020); "
                    "%.3f s after Start, drift %+.3f ms\n",
                    q + 1, (timeout - setAt) / 1000.0, timeout / 1000.0, timeout - 22000.0 * (q + 1));
    }
    return worst <= 10.0 && worstMark <= 5.0 && worstTimeout <= 20.0 ? 0 : 1;
}

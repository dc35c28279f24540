// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/game_log_recorder.h"
#include "rules/game_window.h"
#include "rules/question.h"
#include "ui/control_array.h"
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/services.h"
#include "ui/timer.h"
#include "windows/navigation.h"

#include <cstdint>
#include <functional>

class QAction;
class QMenu;

// The game window: the start-up window, alive for the whole run. It shows the table of
// x values over y values, counts down the points of the question and judges the answers.
// It reaches the results and help windows through navigation.
class Form1 : public ui::Form {
    Q_OBJECT
public:
    explicit Form1(windows::Navigation& navigation);

    // Controls, named as in the window's design.
    ui::Label* Label1 = nullptr;                                  // heading "ｘ"
    ui::Label* Label2 = nullptr;                                  // heading "ｙ"
    ui::Label* Label3 = nullptr;                                  // blue strip above the x cells
    ui::Label* Label4 = nullptr;                                  // blue strip above the y cells
    ui::Label* monbang = nullptr;                                 // which question is asked
    ui::Label* tokuten = nullptr;                                 // points still to be won
    ui::ControlArray<ui::Label> mondai{QStringLiteral("mondai")}; // 0..4 x cells, 5..9 y cells
    ui::ControlArray<ui::Label> bango{QStringLiteral("bango")};   // question numbers 1..5
    ui::ControlArray<ui::Label> sikiyo{QStringLiteral("sikiyo")}; // result marks
    QPushButton* Command1 = nullptr;                              // スタート
    QPushButton* Command3 = nullptr;                              // x-value range
    QPushButton* Command5 = nullptr;                              // 終了
    QPushButton* tokutenyo = nullptr;                             // running total; opens the lists
    QPushButton* helpyo = nullptr;                                // 説明
    ui::Frame* Frame1 = nullptr;
    ui::ControlArray<QPushButton> kotae{QStringLiteral("kotae")}; // answer buttons
    ui::Line* Line1 = nullptr;
    ui::Line* Line2 = nullptr;
    ui::Timer* Timer1 = nullptr;
    QMenu* m1 = nullptr;
    QMenu* m4 = nullptr;
    QMenu* m5 = nullptr;
    QAction* m1a = nullptr;
    QAction* m1c = nullptr;
    QAction* m1d = nullptr;
    QAction* m5c = nullptr;
    ui::ControlArray<QAction> en{QStringLiteral("en")}; // x-value ranges, numbered as hani

    // The log of the game played, and the seed of its questions (ui::NewSeed at each スタート).
    gamelog::GameLogRecorder recorder;
    // Where each game's seed comes from: ui::NewSeed, unless the program draws the games on a
    // class link from the class's tickets.
    std::function<std::uint32_t()> newSeed;
    // What the window shows and decides, and the state it keeps between events. Its questions
    // come from the game's seed (Rnd's draws where a test scripts them).
    game::GameWindow model{[seeded = recorder.draw()] { return ui::services().scriptedDraws ? ui::Rnd() : seeded(); }};

    // Event handlers.
    void Command1_Click();
    void kotae_Click(std::int16_t Index);
    void Timer1_Timer();
    void Command3_Click();
    void en_Click(std::int16_t Index);
    void Command5_Click();
    void helpyo_Click();
    void tokutenyo_Click();
    void m1a_Click();
    void m1c_Click();
    void m1d_Click();
    void m5c_Click();

protected:
    void Form_Load() override;
    void Form_Activate() override;
    void closedByFrame() override;

private:
    windows::Navigation& navigation;

    void createControls();
    void createMenus();
    void syutudai();
    // Carries out what an event of the model did, in the order game::Step gives.
    void play(const game::Step& step);
    // Writes the model's screen into the controls.
    void showScreen();
    // Hands the model the points and the total as shown: the game reads them back from there.
    void readShownNumbers();
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/controls.h"
#include "ui/form.h"
#include "windows/navigation.h"

// The help window: four blocks of fixed text on a blue window, and 戻る back to the game.
// Created at its first opening, then only hidden and shown; closed by its frame, destroyed.
// 戻る shows the game window through navigation.
class Form2 : public ui::Form {
    Q_OBJECT
public:
    explicit Form2(windows::Navigation& navigation);

    ui::Label* Label2 = nullptr;
    ui::Label* Label3 = nullptr;
    ui::Label* Label4 = nullptr;
    ui::Label* Label6 = nullptr;
    QPushButton* Command1 = nullptr; // 戻る

    void Command1_Click();

private:
    windows::Navigation& navigation;
};

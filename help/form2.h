// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/controls.h"
#include "ui/form.h"

// The help window: four blocks of fixed text on a blue window, and 戻る back to the game.
// Created at its first opening, then only hidden and shown; closed by its frame, destroyed.
class Form2 : public ui::Form {
    Q_OBJECT
public:
    Form2();

    ui::Label* Label2 = nullptr;
    ui::Label* Label3 = nullptr;
    ui::Label* Label4 = nullptr;
    ui::Label* Label6 = nullptr;
    QPushButton* Command1 = nullptr; // 戻る

    void Command1_Click();
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/control_array.h"
#include "ui/controls.h"
#include "ui/form.h"

#include <QColor>
#include <QString>

// A window of the window layer alone, named as given, that counts its Load and Activate
// events; Load puts one label into its control array.
class CountingForm : public ui::Form {
public:
    explicit CountingForm(const QString& name) : ui::Form({name, name, 272, 418}) {}
    int loads = 0;
    int activations = 0;
    ui::ControlArray<ui::Label> cells{QStringLiteral("cell")};

protected:
    void Form_Load() override
    {
        ++loads;
        cells.add(0, new ui::Label(client(), {{},
                                              QStringLiteral("A"),
                                              QRect(16, 80, 25, 25),
                                              {21, true, {}, QColor(0x80, 0xFF, 0x80), Qt::AlignHCenter}}));
    }
    void Form_Activate() override { ++activations; }
};

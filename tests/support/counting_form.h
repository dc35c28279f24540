// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/control_array.h"
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/twips.h"

#include <QColor>
#include <QString>

// A window of the window layer alone, named as given, that counts its Load and Activate
// events; Load puts one label into its control array.
class CountingForm : public ui::Form {
public:
    explicit CountingForm(const QString& name) : ui::Form({name, name, 4080, 6270}) {}
    int loads = 0;
    int activations = 0;
    ui::ControlArray<ui::Label> cells{QStringLiteral("cell")};

protected:
    void Form_Load() override
    {
        ++loads;
        cells.add(0, new ui::Label(client(), {{}, QStringLiteral("A"), ui::twipsRect(240, 1200, 372, 372),
                                              {15.75, true, {}, QColor(0x80, 0xFF, 0x80), Qt::AlignHCenter}}));
    }
    void Form_Activate() override { ++activations; }
};

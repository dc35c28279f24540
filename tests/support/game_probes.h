// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the tests of the game window read from it and the steps they play it by.
#include "game/form1.h"
#include "support/game_fixture.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace gameprobes {

inline const QString startTitle = QStringLiteral("スタート");
inline const QString restartTitle = QStringLiteral("再スタート");
inline const QString rangeTitle = QStringLiteral("ｘの値の変更");

// The five cells of the table from cell `first`: 0 for the x row, 5 for the y row.
inline QStringList row(Form1& f, int first)
{
    QStringList texts;
    for (int i = first; i < first + 5; ++i)
        texts << f.mondai(static_cast<std::int16_t>(i)).caption();
    return texts;
}

// The marks of the five questions.
inline QStringList marks(Form1& f)
{
    QStringList texts;
    for (std::int16_t i = 0; i < 5; ++i)
        texts << f.sikiyo(i).caption();
    return texts;
}

// The ranges whose menu entries are ticked.
inline QList<int> checkedRanges(Form1& f)
{
    QList<int> checked;
    for (std::int16_t i = 0; i < 4; ++i)
        if (f.en(i).isChecked())
            checked << i;
    return checked;
}

inline void tick(Form1& f, int times)
{
    for (int i = 0; i < times; ++i)
        f.Timer1_Timer();
}

// Starts a game whose coming questions, after any draws already scripted, are `questions` proportions.
inline Form1& start(GameFixture& game, int questions)
{
    game.scriptProportionalQuestions(questions);
    game.form().Command1_Click();
    return game.form();
}

} // namespace gameprobes

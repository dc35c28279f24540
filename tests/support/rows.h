// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTest>

// The data of a test run both ways: the bool column `column`, true in the row `whenTrue` and
// false in the row `whenFalse`.
inline void bothWays(const char* column, const char* whenTrue, const char* whenFalse)
{
    QTest::addColumn<bool>(column);
    QTest::newRow(whenTrue) << true;
    QTest::newRow(whenFalse) << false;
}

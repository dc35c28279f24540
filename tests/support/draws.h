// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTest>

#include <deque>

// A random draw r that makes Int(range * r) equal n: the middle of n's slot.
inline double drawFor(int n, int range)
{
    return (n + 0.5) / range;
}

// The next draw of a script; a draw taken beyond the script fails the test.
inline double nextDraw(std::deque<double>& draws)
{
    if (draws.empty()) {
        QTest::qFail("a random draw was taken beyond the script", __FILE__, __LINE__);
        return 0.0;
    }
    const double r = draws.front();
    draws.pop_front();
    return r;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/class_round.h"

#include <algorithm>

namespace classround {

std::int64_t questionLength(int tickMilliseconds)
{
    std::int16_t points = question::fullPoints;
    std::int64_t ticks = 1;
    while (!question::countdownTick(points))
        ++ticks;
    return ticks * tickMilliseconds;
}

std::int64_t questionStart(const Schedule& s, int q)
{
    return s.start + q * (questionLength(s.tickMilliseconds) + pauseMilliseconds);
}

std::int64_t questionEnd(const Schedule& s, int q)
{
    return questionStart(s, q) + questionLength(s.tickMilliseconds);
}

std::int64_t roundEnd(const Schedule& s)
{
    return questionEnd(s, question::questionsPerGame - 1);
}

std::optional<int> questionAt(const Schedule& s, std::int64_t now)
{
    for (int q = 0; q < question::questionsPerGame; ++q)
        if (now >= questionStart(s, q) && now < questionEnd(s, q))
            return q;
    return std::nullopt;
}

std::optional<std::int16_t> pointsShown(int tickMilliseconds, std::int64_t elapsed)
{
    if (elapsed < 0 || tickMilliseconds < 1)
        return std::nullopt;
    std::int16_t points = question::fullPoints;
    for (std::int64_t ticks = elapsed / tickMilliseconds; ticks > 0; --ticks)
        if (question::countdownTick(points))
            return std::nullopt;
    return points;
}

int allowance(const std::vector<std::int64_t>& roundTrips)
{
    if (roundTrips.empty())
        return 0;
    const std::int64_t shortest = std::max<std::int64_t>(0, *std::min_element(roundTrips.begin(), roundTrips.end()));
    return static_cast<int>(std::min<std::int64_t>(shortest / 2, largestAllowance));
}

Taken take(const Schedule& s, int q, std::int16_t range, std::int16_t button, std::int64_t received, int allowanceMs)
{
    Taken taken;
    taken.answer.range = range;
    if (q < 0 || q >= question::questionsPerGame || !gamelog::isButton(button) || received < questionStart(s, q))
        return taken;
    const std::int64_t pressed = std::max(received - allowanceMs, questionStart(s, q));
    const std::optional<std::int16_t> points = pointsShown(s.tickMilliseconds, pressed - questionStart(s, q));
    if (!points)
        return taken;
    taken.answer.button = button;
    taken.answer.points = *points;
    taken.counted = true;
    return taken;
}

} // namespace classround

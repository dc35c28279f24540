// SPDX-License-Identifier: GPL-3.0-or-later
// The class round's schedule (rules/class_round.h) for the page: when each question shows and
// ends, the round's end, the points the countdown shows, the lead before the first question.
// Times are milliseconds on the server's clock, passed as doubles (exact to 2^53).
#include "rules/class_round.h"

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>

using emscripten::val;

namespace {

classround::Schedule scheduleOf(double start, int tick)
{
    return {static_cast<std::int64_t>(start), tick};
}
double questionStart(double start, int tick, int q)
{
    return double(classround::questionStart(scheduleOf(start, tick), q));
}
double questionEnd(double start, int tick, int q)
{
    return double(classround::questionEnd(scheduleOf(start, tick), q));
}
double roundEnd(double start, int tick)
{
    return double(classround::roundEnd(scheduleOf(start, tick)));
}
val pointsShown(int tick, double elapsed)
{
    const auto points = classround::pointsShown(tick, static_cast<std::int64_t>(elapsed));
    return points ? val(int(*points)) : val::null();
}
int leadMilliseconds()
{
    return classround::leadMilliseconds;
}

} // namespace

EMSCRIPTEN_BINDINGS(nubora1_round)
{
    using emscripten::function;
    function("questionStart", &questionStart);
    function("questionEnd", &questionEnd);
    function("roundEnd", &roundEnd);
    function("pointsShown", &pointsShown);
    function("leadMilliseconds", &leadMilliseconds);
}

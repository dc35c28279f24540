// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/question.h"

#include "rules/number_text.h"

#include <cmath>

namespace question {

std::int16_t Int(double v)
{
    return static_cast<std::int16_t>(std::floor(v));
}

namespace {

// -reach..reach without 0, redrawn until not 0.
std::int16_t nonZero(const Draw& rnd, std::int16_t reach = 4)
{
    std::int16_t value = 0;
    while (value == 0)
        value = Int((2 * reach + 1) * rnd()) - reach;
    return value;
}

} // namespace

Relation drawRelation(const Draw& rnd, Relation previous)
{
    Relation r = previous;
    const std::int16_t k = Int(10 * rnd());
    if (k <= 2)
        r.kankei = Proportional;
    else if (k <= 5)
        r.kankei = InverselyProportional;
    else if (k <= 8)
        r.kankei = Linear;
    else
        r.kankei = SquareProportional + Int(2 * rnd());

    switch (r.kankei) {
    case Proportional: r.a = nonZero(rnd); break;
    case InverselyProportional:
        r.a = 6 * Int(3 * rnd() + 1);
        if (rnd() < 0.5)
            r.a = -r.a;
        break;
    case Linear:
        r.a = nonZero(rnd);
        r.b = nonZero(rnd);
        break;
    case SquareProportional: r.a = nonZero(rnd, 3); break;
    default:
        r.a = nonZero(rnd);
        r.b = nonZero(rnd);
        r.c = Int(9 * rnd()) - 4;
        break;
    }
    return r;
}

void fillFixedRows(std::int16_t (&xatai)[rangeCount][columns])
{
    constexpr std::int16_t firsts[] = {-2, 1, -5};
    for (int row = 0; row < randomRange; ++row)
        for (int i = 0; i < columns; ++i)
            xatai[row][i] = static_cast<std::int16_t>(firsts[row] + i);
}

bool countdownTick(std::int16_t& haiten)
{
    --haiten;
    return haiten == -1;
}

void fillRandomRow(std::int16_t kankei, const Draw& rnd, std::int16_t row[columns])
{
    if (kankei == InverselyProportional) {
        const std::int16_t fixed[columns] = {-4, -1, 3, 5, 6};
        std::copy(fixed, fixed + columns, row);
        return;
    }
    row[0] = Int(9 * rnd()) - 7;
    for (int i = 1; i < columns; ++i)
        row[i] = row[i - 1] + Int(3 * rnd()) + 1;
}

Relation drawQuestion(const Draw& rnd, std::int16_t hani, Relation previous, std::int16_t (&xatai)[rangeCount][columns])
{
    const Relation relation = drawRelation(rnd, previous);
    if (hani == randomRange)
        fillRandomRow(relation.kankei, rnd, xatai[randomRange]);
    return relation;
}

std::u16string yText(const Relation& r, std::int16_t x)
{
    switch (r.kankei) {
    case Proportional: return numtext::numberText(std::int16_t(r.a * x));
    case InverselyProportional: return x == 0 ? noValue : numtext::numberText(static_cast<double>(r.a) / x);
    case Linear: return numtext::numberText(std::int16_t(r.a * x + r.b));
    case SquareProportional: return numtext::numberText(std::int16_t(r.a * x * x));
    default: return numtext::numberText(std::int16_t(r.a * x * x + r.b * x + r.c));
    }
}

bool isRightAnswer(std::int16_t kankei, std::int16_t index)
{
    return index == kankei || (index == 4 && kankei == SquareProportional);
}

} // namespace question

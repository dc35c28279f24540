// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/seeded_draw.h"

#include <memory>
#include <random>

namespace question {

Draw seededDraw(std::uint32_t seed)
{
    // std::uniform_real_distribution is left to each library; the engine's outputs are not.
    return [engine = std::make_shared<std::mt19937>(seed)] {
        const double a = static_cast<double>((*engine)() >> 5);
        const double b = static_cast<double>((*engine)() >> 6);
        return (a * 67108864.0 + b) / 9007199254740992.0;
    };
}

} // namespace question

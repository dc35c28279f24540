// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A game played fair, as its log: what a test sends where a class server replays the game an
// entry claims its score by.
#include "rules/game_log.h"
#include "rules/game_replay.h"
#include "rules/game_window.h"

#include <algorithm>
#include <string>

namespace playedgame {

// The log of a game in `range` from `seed` that scores `score` (0 to 50, taken as 50 above):
// right answers of 10 points from the first question, then one of what is left, time-outs after.
inline std::string logScoring(std::uint32_t seed, int range, int score, int pace = question::tickMilliseconds)
{
    gamelog::GameLog log{std::int16_t(range), std::vector<gamelog::Answer>(question::questionsPerGame), pace};
    for (gamelog::Answer& a : log.answers)
        a.range = std::int16_t(range);
    const auto drawn = gamelog::replay(seed, log); // all timed out: the questions alone
    int left = std::clamp<int>(score, 0, question::questionsPerGame * question::fullPoints);
    for (std::size_t i = 0; i < log.answers.size() && left > 0; ++i) {
        const std::int16_t kankei = std::get<gamelog::Replay>(drawn).questions[i].relation.kankei;
        for (std::int16_t b = 0; b <= 4; ++b)
            if (b != game::hiddenAnswer && question::isRightAnswer(kankei, b))
                log.answers[i].button = b;
        log.answers[i].points = std::int16_t(std::min<int>(left, question::fullPoints));
        left -= log.answers[i].points;
    }
    return gamelog::write(log);
}

} // namespace playedgame

// SPDX-License-Identifier: GPL-3.0-or-later
// A logged game played again from its seed.
#include "rules/game_replay.h"

#include "rules/seeded_draw.h"

#include <algorithm>

namespace gamelog {

std::variant<Replay, Refusal> replay(std::uint32_t seed, const GameLog& log)
{
    if (const std::optional<Refusal> refused = check(log))
        return *refused;
    const question::Draw rnd = question::seededDraw(seed);
    // As a new game window has them: the fixed rows, the random one all 0, no relation yet.
    std::int16_t xatai[rangeCount][question::columns] = {};
    question::fillFixedRows(xatai);
    question::Relation relation;
    Replay game;
    for (std::size_t i = 0; i < game.questions.size(); ++i) {
        ReplayedQuestion& q = game.questions[i];
        q.answer = log.answers[i];
        relation = question::drawQuestion(rnd, q.answer.range, relation, xatai);
        q.relation = relation;
        std::copy(std::begin(xatai[q.answer.range]), std::end(xatai[q.answer.range]), q.x.begin());
        q.right = q.answer.button != timedOut && question::isRightAnswer(relation.kankei, q.answer.button);
        if (q.right)
            game.score += q.answer.points;
    }
    return game;
}

std::variant<Replay, Refusal> checkEntry(std::uint32_t seed, const GameLog& log, int claimedScore)
{
    std::variant<Replay, Refusal> game = replay(seed, log);
    if (const Replay* replayed = std::get_if<Replay>(&game); replayed && replayed->score != claimedScore)
        return Refusal::ScoreNotTheSum;
    return game;
}

std::variant<Replay, Refusal> checkEntry(std::uint32_t seed, std::string_view logText, int claimedScore)
{
    const std::variant<GameLog, Refusal> log = parse(logText);
    if (const Refusal* refused = std::get_if<Refusal>(&log))
        return *refused;
    return checkEntry(seed, std::get<GameLog>(log), claimedScore);
}

} // namespace gamelog

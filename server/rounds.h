// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The class round on the server (rounds.cpp has the API's handlers of it, routes.h lists them):
// what a device's answers make of its round, and the signed times a device measures its round
// trips with.
//
// What the round's calls answer (times in ms since 1970 on the server's clock):
//   GET classes/KEY/round (a device, by X-Nubora-Device): {"now", "t", "mark" (a signed time
//     for its join), "round": null or the class's latest round {"number", "range", "tick",
//     "seed", "start", "end", "joined" (this device), "answers": [{"question", "button",
//     "points", "counted", "right"}] (this device's, as POST round/answers answered them)}}
//   POST classes/KEY/round/join {"number", "t", "mark", "name"?}: {"joined": true, "allowance"};
//     while now < start, or again by a device that joined (409 else); t and mark measure the
//     round trip (the shortest is kept), name (the name box's rule) is the device's on the board
//   POST classes/KEY/round/answers {"number", "question", "button"}: as an answer above; the
//     first answer to a question stands, and nothing else the device sends is read
//   GET teachers/KEY/round: {"now", "round": null or {"number", "range", "tick", "start", "end",
//     "joined" (how many), "questions": [{"start", "answered", "right"}] (counted answers),
//     "ranking": [{"name" (名前なし for none), "points", "answered"}] (highest first, then who
//     reached the points first)}}; POST teachers/KEY/round {"range"} starts the next round
//     classround::leadMilliseconds from now (409 while the latest has not ended)
//   POST classes/KEY/entries {"id", "range", "score", "name", "round"}: a round's entry, once
//     the round is over, its score the replay's of the device's answers, under the id
//     roundEntryId (once per device and round).
//
// A device's round is a game (rules/game_log.h): the round's range and pace, and for each
// question the device's answer when it counted (the button, the points it scored), a time-out
// when it did not or when the device sent none. Played again from the round's seed
// (rules/game_replay.h), its score is the sum of the points the server gave.
#include "server/round_store.h"
#include "server/tickets.h"

#include "rules/class_round.h"
#include "rules/game_log.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace server {

// How long a signed time stays good for a join's round trip.
inline constexpr std::int64_t signedTimeLife = 10000;

// The round's schedule.
classround::Schedule scheduleOf(const RoundRow& round);

// The game a device's answers make of the round.
gamelog::GameLog roundLog(const RoundRow& round, const RoundDevice& device);

// Every joined device's round of the class as a game (ticket empty, its time the round's start
// as the stores write time), oldest round first: what the class gets wrong counts them.
std::vector<GameRow> roundGames(Store& store, std::int64_t classId);

// The mark of a signed time t (ms) given to a device, and the round trip a join that sends it
// back at `now` measured: none when the mark is not the device's t's, t is after now, or
// now - t is signedTimeLife or more.
std::string timeMark(const TicketDesk& desk, std::int64_t t, const std::string& device);
std::optional<std::int64_t> roundTrip(const TicketDesk& desk, std::int64_t t, const std::string& mark,
                                      const std::string& device, std::int64_t now);

// The id of a device's entry of round `number`: "r" number "-" device, cut to 64.
std::string roundEntryId(std::int64_t number, const std::string& device);

} // namespace server

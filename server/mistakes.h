// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a class gets wrong: from the games its pupils played on its link, for each relation the
// class was shown, how often it named it with each answer, and how often the time ran out.
//
// The relations are those a pupil can name: one for each answer button shown, in the buttons'
// order (比例, 反比例, 一次関数, その他; the hidden button has none). A question's relation is
// the one whose button answers its kankei right (question::isRightAnswer), so that the square
// proportion and the quadratic are both その他, as the game judges them.
//
// A teacher reads them for three periods of the school's local time (the server's time zone):
// today, this week (from Monday), and all time.
#include "server/store.h"

#include "rules/game_replay.h"
#include "rules/game_window.h"

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server {

inline constexpr int relationCount = game::answers - 1; // the buttons shown

// The relations' names as a teacher says them, in the order of their buttons.
inline constexpr std::array<std::string_view, relationCount> relationNames{"比例", "反比例", "一次関数", "その他"};

// The relation (0 to relationCount - 1) that answer button `button` names; none for the hidden
// button, a time-out or no button at all.
std::optional<int> relationOfButton(std::int16_t button);
// The relation a question of kind `kankei` is: the one whose button answers it right.
std::optional<int> relationOfKind(std::int16_t kankei);

struct Mistakes {
    int games = 0;
    // answered[shown][named]: how often the relation shown was named as `named`.
    std::array<std::array<int, relationCount>, relationCount> answered{};
    std::array<int, relationCount> timedOut{}; // per relation shown

    // How often the relation was shown: its answers and its time-outs.
    int shown(int relation) const;
    // Counts a game, as its replay judged it.
    void add(const gamelog::Replay& game);
};

struct Period {
    std::string_view name; // 今日, 今週, これまで
    std::string since;     // a time as the stores write it; "" for all time
};

// Today (from midnight) and this week (from Monday's midnight) in the process's local time, and
// all time, as they stand at `now`.
std::array<Period, 3> periodsAt(std::time_t now);

// The class's table for each period: one read of the store, every game (replayed from its seed)
// counted in each period it falls in, each joined device's class round among them (rounds.h,
// at the round's start); a game whose log cannot be replayed (never stored) is left out.
std::vector<std::pair<Period, Mistakes>> classMistakes(Store& store, std::int64_t classId, std::time_t now);

// The teacher's JSON member: {"relations":[names],"periods":[{"name","since","games",
// "rows":[[count per relation named..., time-outs] per relation shown]}]}.
std::string mistakesJson(const std::vector<std::pair<Period, Mistakes>>& periods);

// The same for a spreadsheet: UTF-8 with a byte order mark, a heading row, one row per period
// and relation shown: 期間, 出題, a count per relation named, 時間切れ, 出題数.
std::string mistakesCsv(const std::vector<std::pair<Period, Mistakes>>& periods);

} // namespace server

// SPDX-License-Identifier: GPL-3.0-or-later
// A game's log: its checks, its text and the strict reading of that text.
#include "rules/game_log.h"

#include <charconv>

namespace gamelog {

namespace {

constexpr int version = 1;

// The fields of `text` between separators `sep`.
std::vector<std::string_view> split(std::string_view text, char sep)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t at = text.find(sep);
        fields.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return fields;
        text.remove_prefix(at + 1);
    }
}

// A whole field as an integer of at most five digits, signed or not; the canonical check
// after reading refuses signs and leading zeros that write never gives.
std::optional<int> number(std::string_view field)
{
    const std::size_t digits = field.size() - (!field.empty() && field.front() == '-');
    if (digits == 0 || digits > 5)
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size())
        return std::nullopt;
    return value;
}

// A number read as a button, points or range: one that would not fit those is kept out of
// range rather than narrowed into it.
constexpr int outOfRange = 99;
std::int16_t bounded(int value)
{
    return static_cast<std::int16_t>(value < -1 || value > outOfRange ? outOfRange : value);
}

// One question's field: "t" or "B@N", then "/H" where it was drawn in another range.
std::variant<Answer, Refusal> answer(std::string_view field, std::int16_t gameRange)
{
    Answer a;
    a.range = gameRange;
    const std::size_t slash = field.find('/');
    if (slash != std::string_view::npos) {
        const std::optional<int> range = number(field.substr(slash + 1));
        if (!range)
            return Refusal::Malformed;
        a.range = bounded(*range < 0 ? outOfRange : *range);
        field = field.substr(0, slash);
    }
    if (field == "t")
        return a;
    const std::size_t at = field.find('@');
    if (at == std::string_view::npos)
        return Refusal::Malformed;
    const std::optional<int> button = number(field.substr(0, at));
    const std::optional<int> points = number(field.substr(at + 1));
    if (!button || !points)
        return Refusal::Malformed;
    a.button = bounded(*button < 0 ? outOfRange : *button);
    a.points = bounded(*points);
    return a;
}

} // namespace

std::string_view refusalText(Refusal refusal)
{
    switch (refusal) {
    case Refusal::Malformed: return "the game log is malformed";
    case Refusal::UnknownVersion: return "the game log's version is not known";
    case Refusal::NoSuchRange: return "the game log names no such range";
    case Refusal::QuestionCount: return "a game has five questions";
    case Refusal::NoSuchButton: return "the game log names no such answer button";
    case Refusal::PointsNotShown: return "no countdown shows those points";
    case Refusal::PaceOutOfRange: return "the game log's pace is out of range";
    case Refusal::ScoreNotTheSum: return "score is not the sum";
    }
    return "the game log is malformed";
}

bool isButton(std::int16_t button)
{
    return button >= 0 && button <= question::Quadratic && button != question::SquareProportional;
}

std::optional<Refusal> check(const GameLog& log)
{
    const auto isRange = [](std::int16_t range) { return range >= 0 && range < rangeCount; };
    if (!isRange(log.range))
        return Refusal::NoSuchRange;
    for (const Answer& a : log.answers)
        if (!isRange(a.range))
            return Refusal::NoSuchRange;
    if (log.answers.size() != question::questionsPerGame)
        return Refusal::QuestionCount;
    for (const Answer& a : log.answers)
        if (a.button != timedOut && !isButton(a.button))
            return Refusal::NoSuchButton;
    for (const Answer& a : log.answers)
        if (a.points < 0 || a.points > question::fullPoints || (a.button == timedOut && a.points != 0))
            return Refusal::PointsNotShown;
    if (log.tickMilliseconds < 1 || log.tickMilliseconds > slowestPace)
        return Refusal::PaceOutOfRange;
    return std::nullopt;
}

std::string write(const GameLog& log)
{
    std::string text = std::to_string(version) + ';' + std::to_string(log.range) + ';';
    for (std::size_t i = 0; i < log.answers.size(); ++i) {
        const Answer& a = log.answers[i];
        if (i > 0)
            text += ',';
        text += a.button == timedOut ? std::string("t") : std::to_string(a.button) + '@' + std::to_string(a.points);
        if (a.range != log.range)
            text += '/' + std::to_string(a.range);
    }
    if (log.tickMilliseconds != question::tickMilliseconds)
        text += ';' + std::to_string(log.tickMilliseconds);
    return text;
}

std::variant<GameLog, Refusal> parse(std::string_view text)
{
    if (text.size() > maxTextLength)
        return Refusal::Malformed;
    const std::vector<std::string_view> fields = split(text, ';');
    if (fields.size() < 3 || fields.size() > 4)
        return Refusal::Malformed;
    const std::optional<int> v = number(fields[0]);
    if (!v)
        return Refusal::Malformed;
    if (*v != version)
        return Refusal::UnknownVersion;
    const std::optional<int> range = number(fields[1]);
    if (!range)
        return Refusal::Malformed;
    if (*range < 0 || *range >= rangeCount)
        return Refusal::NoSuchRange;

    GameLog log;
    log.range = static_cast<std::int16_t>(*range);
    for (const std::string_view field : split(fields[2], ',')) {
        std::variant<Answer, Refusal> a = answer(field, log.range);
        if (const Refusal* refused = std::get_if<Refusal>(&a))
            return *refused;
        log.answers.push_back(std::get<Answer>(a));
    }
    if (fields.size() == 4) {
        const std::optional<int> pace = number(fields[3]);
        if (!pace)
            return Refusal::Malformed;
        log.tickMilliseconds = *pace;
    }
    if (const std::optional<Refusal> refused = check(log))
        return *refused;
    if (write(log) != text)
        return Refusal::Malformed;
    return log;
}

} // namespace gamelog

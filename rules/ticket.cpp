// SPDX-License-Identifier: GPL-3.0-or-later
// A ticket's text, read strictly.
#include "rules/ticket.h"

#include "rules/class_key.h"

#include <charconv>
#include <limits>

namespace ticket {

namespace {

// A whole field as a number from 0 to max, without sign or leading zeros.
std::optional<std::int64_t> number(std::string_view field, std::int64_t max)
{
    if (field.empty() || field.size() > 19 || (field.size() > 1 && field.front() == '0'))
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size() || value < 0 || value > max)
        return std::nullopt;
    return value;
}

bool isToken(std::string_view field)
{
    return field.size() == tokenLength && classkey::isUrlSafe(field);
}

} // namespace

std::optional<Ticket> parse(std::string_view text)
{
    if (text.size() > maxTextLength || !text.starts_with("1."))
        return std::nullopt;
    text.remove_prefix(2);
    std::string_view fields[5];
    for (std::size_t i = 0; i < 5; ++i) {
        const std::size_t dot = text.find('.');
        if ((dot == std::string_view::npos) != (i == 4))
            return std::nullopt;
        fields[i] = text.substr(0, dot);
        text.remove_prefix(i == 4 ? text.size() : dot + 1);
    }
    const auto classId = number(fields[0], std::numeric_limits<std::int64_t>::max());
    const auto issued = number(fields[1], std::numeric_limits<std::int64_t>::max());
    const auto seed = number(fields[2], std::numeric_limits<std::uint32_t>::max());
    if (!seed || !classId || *classId == 0 || !issued || !isToken(fields[3]) || !isToken(fields[4]))
        return std::nullopt;
    return Ticket{std::uint32_t(*seed), *classId, *issued, std::string(fields[3]), std::string(fields[4])};
}

std::string markedPart(const Ticket& ticket)
{
    return "1." + std::to_string(ticket.classId) + "." + std::to_string(ticket.issued) + "."
           + std::to_string(ticket.seed) + "." + ticket.nonce;
}

std::string write(const Ticket& ticket)
{
    return markedPart(ticket) + "." + ticket.mark;
}

} // namespace ticket

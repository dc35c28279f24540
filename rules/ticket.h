// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A ticket: the seed of one game's questions, issued by a class server for one of its classes.
// A device fetches a stock of them when it opens the class link and draws each game on a class
// link from the next one (online or not); the entry then carries the ticket, and the server
// replays the game from its seed. The server alone can make a ticket (its mark is a keyed hash
// of the rest, see server/tickets.h); a device only reads the seed out of one.
//
// Its text, carried in a JSON string, is ASCII, at most maxTextLength characters:
//
//     1.CLASS.ISSUED.SEED.NONCE.MARK      e.g.
//     "1.4.1797392147.3735928559.QmFzZTY0dXJsTm9uY2UwMA.c2lnbmVkQnlUaGVTZXJ2ZX"
//
//   1       the version of the form
//   CLASS   the server's number of the class it was issued for (1 or more)
//   ISSUED  when, in seconds since 1970 (UTC)
//   SEED    the questions' seed, 0 to 2^32 - 1
//   NONCE   22 characters of [A-Za-z0-9_-]: no two tickets alike
//   MARK    22 characters of [A-Za-z0-9_-]
//
// Numbers are decimal without sign or leading zeros; any other text is no ticket. A class's
// tickets sort by the time they were issued (until the time has another number of digits), so
// that a server keeps the ones used, found by their text, in nearly the order they come.
namespace ticket {

inline constexpr std::size_t maxTextLength = 96;
inline constexpr std::size_t tokenLength = 22; // NONCE and MARK

struct Ticket {
    std::uint32_t seed = 0;
    std::int64_t classId = 0;
    std::int64_t issued = 0;
    std::string nonce;
    std::string mark;

    bool operator==(const Ticket&) const = default;
};

// The ticket a text gives, or nothing when it is not in the form above. Its mark is not
// checked: only the server that issued it can.
std::optional<Ticket> parse(std::string_view text);

// What the mark is made of: the text up to and without ".MARK".
std::string markedPart(const Ticket& ticket);

// The ticket's text.
std::string write(const Ticket& ticket);

} // namespace ticket

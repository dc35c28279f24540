// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The server's side of tickets (rules/ticket.h) and of the games they are played in.
//
// A ticket's mark is HMAC-SHA256, keyed by the secret kept in the data (the setting
// "ticket-secret", made once by the first server process to open the data), of the rest of its
// text, cut to 128 bits: every server process on the same data issues and checks the same
// tickets, a device cannot make one, and one issued for a class is refused by every other.
// Issuing keeps nothing: a ticket is used when a game played with it is stored (the store's
// games, one per ticket of a class), so a ticket goes once however many processes serve.
#include "server/json.h"
#include "server/store.h"

#include "rules/ticket.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace server {

// How long a ticket may wait on a device before its game is sent: two weeks of lessons
// played offline.
inline constexpr std::int64_t ticketLifetime = 14 * 24 * 60 * 60;
// How many tickets a device is given at a time: a lesson's games and more.
inline constexpr int ticketStock = 20;

class TicketDesk {
public:
    explicit TicketDesk(std::string secret);

    // A new ticket for the class, issued at `now` (seconds since 1970), with a random seed.
    std::string issue(std::int64_t classId, std::int64_t now) const;
    // The ticket's mark as this server makes it.
    std::string mark(const ticket::Ticket& t) const;
    // The mark of any text, made as a ticket's is (HMAC-SHA256 with the data's secret, cut to
    // 128 bits, base64url): every process on the same data makes the same, a device none.
    std::string sign(std::string_view text) const;
    // The ticket a text gives, when this server issued it for classId no longer than
    // ticketLifetime before now; else why not, in English as the server answers it.
    std::variant<ticket::Ticket, std::string> check(std::string_view text, std::int64_t classId,
                                                    std::int64_t now) const;

private:
    std::string secret;
};

// The data's ticket secret: the one stored, or a new one stored now when there is none
// (StoreDown when it can be neither read nor made).
std::string ticketSecret(Store& store);

// The game a request's body carries ("ticket" and "log"), checked: the ticket by desk, the log
// by the game library's replay from the ticket's seed, which must give `claimed` (an entry's
// score) where one is claimed and `range` (an entry's range) where one is given. The game as
// the store keeps it, or why it is refused.
std::variant<GameRow, std::string> checkedGame(const TicketDesk& desk, std::int64_t classId, const JsonObject& body,
                                               std::optional<int> claimed, std::optional<int> range, std::int64_t now);

} // namespace server

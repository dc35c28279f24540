// SPDX-License-Identifier: GPL-3.0-or-later
// Tickets marked and checked, and a played game checked by its replay.
#include "server/tickets.h"

#include "server/encoding.h"

#include "rules/game_replay.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace server {

TicketDesk::TicketDesk(std::string secret) : secret(std::move(secret))
{
    if (this->secret.empty())
        throw std::invalid_argument("no ticket secret");
}

std::string TicketDesk::mark(const ticket::Ticket& t) const
{
    return sign(ticket::markedPart(t));
}

std::string TicketDesk::sign(std::string_view text) const
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), secret.data(), int(secret.size()), reinterpret_cast<const unsigned char*>(text.data()),
              text.size(), digest, &length))
        throw std::runtime_error("HMAC-SHA256 failed");
    return base64url(std::string_view(reinterpret_cast<const char*>(digest), 16));
}

std::string TicketDesk::issue(std::int64_t classId, std::int64_t now) const
{
    ticket::Ticket t;
    unsigned char seed[4];
    if (RAND_bytes(seed, sizeof seed) != 1)
        throw std::runtime_error("no random bytes");
    t.seed = std::uint32_t(seed[0]) << 24 | std::uint32_t(seed[1]) << 16 | std::uint32_t(seed[2]) << 8 | seed[3];
    t.classId = classId;
    t.issued = now;
    t.nonce = newKey();
    t.mark = mark(t);
    return ticket::write(t);
}

std::variant<ticket::Ticket, std::string> TicketDesk::check(std::string_view text, std::int64_t classId,
                                                            std::int64_t now) const
{
    const std::optional<ticket::Ticket> t = ticket::parse(text);
    if (!t)
        return std::string("ticket not issued by this server");
    const std::string expected = mark(*t);
    if (CRYPTO_memcmp(expected.data(), t->mark.data(), expected.size()) != 0)
        return std::string("ticket not issued by this server");
    if (t->classId != classId)
        return std::string("ticket of another class");
    if (t->issued > now + 24 * 60 * 60 || now - t->issued > ticketLifetime)
        return std::string("ticket too old");
    return *t;
}

std::string ticketSecret(Store& store)
{
    return store.keepSetting("ticket-secret", newKey() + newKey());
}

std::variant<GameRow, std::string> checkedGame(const TicketDesk& desk, std::int64_t classId, const JsonObject& body,
                                               std::optional<int> claimed, std::optional<int> range, std::int64_t now)
{
    const std::optional<std::string> text = textMember(body, "ticket");
    if (!text)
        return std::string("no ticket");
    const std::optional<std::string> log = textMember(body, "log");
    if (!log)
        return std::string("no log of the game");
    const auto t = desk.check(*text, classId, now);
    if (const std::string* why = std::get_if<std::string>(&t))
        return *why;
    const std::uint32_t seed = std::get<ticket::Ticket>(t).seed;
    const auto parsed = gamelog::parse(*log);
    if (const gamelog::Refusal* why = std::get_if<gamelog::Refusal>(&parsed))
        return std::string(gamelog::refusalText(*why));
    const gamelog::GameLog& game = std::get<gamelog::GameLog>(parsed);
    if (range && game.range != *range)
        return std::string("range is not the game's");
    const auto replay = claimed ? gamelog::checkEntry(seed, game, *claimed) : gamelog::replay(seed, game);
    if (const gamelog::Refusal* why = std::get_if<gamelog::Refusal>(&replay))
        return std::string(gamelog::refusalText(*why));
    return GameRow{*text, seed, game.range, std::get<gamelog::Replay>(replay).score, *log, {}};
}

} // namespace server

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classlink/class_client.h"
#include "classlink/class_link.h"
#include "classlink/outbox.h"
#include "rules/class_queue.h"
#include "rules/ranking.h"
#include "storage/ranking_file.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The class's lists on the class server, read, saved and cleared as storage::RankingFile does
// it with tavon.rnk: the server keeps the class's tavon.rnk as its image, applies the game
// library's Save to it in one transaction, and answers with the image after it; the lists are
// read from the image by the same code as from the file.
//
// Every entry goes into the player's outbox (outbox.h) first, and leaves it as the queue rule
// (rules/class_queue.h) decides: when the server has it, or when the server refuses it for good,
// it going then into the player's own ranking file (tavon.rnk where the window would keep it
// without a class link). An entry that waits is sent before anything else at the next opening
// and the next save, and meanwhile again and again (courier.h); the server stores it once by its
// id. An opening without an answer shows the class's lists as the server last gave them to this
// player (a copy kept beside the outbox), or blank lists where it never did. A clearing is
// never sent later. Every request names this player's device by an id drawn once and kept
// beside the outboxes (classes/device.id).
namespace classlink {

struct ClassOptions {
    // The longest one request may take, connecting included, before the server counts as
    // unreachable: a dead or slow server costs an opening or a save this long, no more.
    std::chrono::milliseconds wait = std::chrono::seconds(5);
    // How long after a save that waits its entry is sent again; each try that still finds no
    // server doubles the pause, up to retryMax.
    std::chrono::milliseconds retry = std::chrono::seconds(10);
    std::chrono::milliseconds retryMax = std::chrono::minutes(2);
};

// What came of sending an entry or a clearing.
struct Sent {
    classqueue::Fate fate = classqueue::Fate::waiting;
    int status = 0;    // the server's HTTP status; 0 for none
    bool kept = false; // refused: the entry is in the player's own ranking file; waiting: in the outbox
};

// What lets the class server replay the game an entry claims its score by
// (rules/game_replay.h): the seed its questions were drawn from, the ticket that seed came from
// (rules/ticket.h; empty where the game was drawn on this PC) and its log's text
// (rules/game_log.h). The entry's body carries the ticket and the log.
struct PlayedGame {
    std::uint32_t seed = 0;
    std::string log;
    QString ticket;
};

// How many tickets a class's stock keeps at least, where the server can be reached: a lesson's
// games played without the network.
inline constexpr int ticketsLow = 10;

class ClassRanking {
public:
    // dataDirectory: where the outbox and the copy of the lists go (one of each per class key).
    // own: the player's own ranking file, which takes the entries the server refuses.
    ClassRanking(ClassLink link, const QString& dataDirectory, ClassOptions options, storage::RankingOptions own);

    // Read: first sends the entries still in the outbox, then fills entries 0 to 20 of the
    // lists from the class's image (or the copy, as above); where the server answered, the
    // stock of tickets is filled up too (stockTickets).
    void read(results::BestFiveLists& lists);

    // The class's tickets kept on this PC (classes/KEY.tickets): each game on the class link
    // takes the oldest, so that games played offline are the server's too. Fetches a new stock
    // from the server where fewer than ticketsLow are kept; whether the server gave one.
    bool stockTickets();
    // The oldest ticket of the stock, taken out of it; none where the stock is empty.
    std::optional<QString> takeTicket();

    // Save: puts the entry into the outbox and sends what is there, oldest first: what became of
    // this entry. Waiting and not kept where the outbox cannot be written and the server did not
    // take it at once, or where the class link is not valid.
    // played: the game the entry's score was made in, where it was played in this program.
    Sent save(const results::NewEntry& entry, const std::optional<PlayedGame>& played = std::nullopt);

    // A finished game whose score entered no list, for the teacher's picture of what the class
    // gets wrong: put into the outbox without a name ({"id", "game": {"ticket", "log"}}), to be
    // sent to …/games with what waits there (the courier); refused, it is let go. Whether it
    // went into the outbox.
    bool queueGame(const PlayedGame& played);

    // Blank: asks the server to blank the class's lists (the old ones stay in the teacher's
    // history). Stored when it did; refused with 403 when only the teacher may.
    Sent blank();

    // Sends the outbox's entries in order; false at the first that waits. What became of the
    // entry with the id watched goes into watchedSent, where it was answered for.
    bool sendOutbox(const QString& watched = {}, Sent* watchedSent = nullptr);

    const ClassLink& link() const { return classLink; }
    Outbox& outbox() { return entries; }
    QString copyPath() const { return copy; }

private:
    void keep(const QJsonObject& answer);
    // The entry (an outbox body) into the player's own ranking file; whether it went in.
    bool keepOwn(const QJsonObject& body);
    Answer send(const QString& tail, const QJsonObject& body);

    ClassLink classLink;
    ClassOptions opts;
    storage::RankingOptions own;
    Outbox entries;
    Outbox tickets; // each ticket as {"id": its text}
    QString copy;
    QString device;
};

// This player's device id in dataDirectory (classes/device.id): drawn (22 base64url characters)
// and kept there at the first call; a fresh one each call where it cannot be kept.
QString deviceId(const QString& dataDirectory);

// The class ranking of a results window opened with these options: the class link in the
// program's directory (options.programDirectory), with its outbox and copy in the player's own
// data directory (options.fallbackDirectory). Null where there is no class link: the window
// keeps tavon.rnk.
std::unique_ptr<ClassRanking> classRanking(const storage::RankingOptions& options, const ClassOptions& classOptions);

} // namespace classlink

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classlink/class_link.h"
#include "classlink/outbox.h"
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
// Without an answer within the wait, a save fails, and its entry stays in the player's outbox
// (outbox.h) to be sent before anything else at the next opening and at the next save; the
// server stores it once by its id. An opening without an answer shows the class's lists as
// the server last gave them to this player (a copy kept beside the outbox), or blank lists
// where it never did. A clearing is never sent later.
namespace classlink {

struct ClassOptions {
    // The longest one request may take, connecting included, before the server counts as
    // unreachable: a dead or slow server costs an opening or a save this long, no more.
    std::chrono::milliseconds wait = std::chrono::seconds(5);
};

// What lets the class server replay the game an entry claims its score by
// (rules/game_replay.h): the seed its questions were drawn from and its log's text
// (rules/game_log.h). The entry's body carries them as "seed" and "log".
struct PlayedGame {
    std::uint32_t seed = 0;
    std::string log;
};

class ClassRanking {
public:
    // dataDirectory: where the outbox and the copy of the lists go (one of each per class key).
    ClassRanking(ClassLink link, const QString& dataDirectory, ClassOptions options);

    // Read: first sends the entries still in the outbox, then fills entries 0 to 20 of the
    // lists from the class's image (or the copy, as above).
    void read(results::BestFiveLists& lists);

    // Save: puts the entry into the outbox and sends what is there, oldest first. Saved only
    // when the server confirmed this entry; WriteFailed when it could not be reached (the entry
    // stays) or refused it for good (it goes); NotWritable when the class link is not valid.
    // played: the game the entry's score was made in, where it was played in this program.
    storage::SaveResult save(const results::NewEntry& entry, const std::optional<PlayedGame>& played = std::nullopt);

    // Blank: asks the server to blank the class's lists (the old ones stay in the teacher's
    // history). Saved when it did.
    storage::SaveResult blank();

    const ClassLink& link() const { return classLink; }
    Outbox& outbox() { return entries; }
    QString copyPath() const { return copy; }

private:
    // Sends the outbox's entries in order; false at the first the server did not answer.
    bool sendOutbox(QList<QString>* saved = nullptr);
    void keep(const QJsonObject& answer);

    ClassLink classLink;
    ClassOptions opts;
    Outbox entries;
    QString copy;
};

// The class ranking of a results window opened with these options: the class link in the
// program's directory (options.programDirectory), with its outbox and copy in the player's own
// data directory (options.fallbackDirectory). Null where there is no class link: the window
// keeps tavon.rnk.
std::unique_ptr<ClassRanking> classRanking(const storage::RankingOptions& options, const ClassOptions& classOptions);

} // namespace classlink

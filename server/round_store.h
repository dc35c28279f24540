// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a store keeps of a class's rounds (rules/class_round.h): each round the teacher
// started, the devices that joined it (the name each last sent, the shortest round trip the
// server measured to it), and their answers, the first to each question alone. The database
// decides every race: of two rounds started at once one is stored, of two answers to one
// question the first; the callers hold no lock of their own.
//
// Times are milliseconds since 1970 on the server's clock. A call that changed a class's round
// tells the store's hearers (Store::hear) with its kind, after its commit: with PostgreSQL
// through the database's notices, so that every process hears it.
#include "server/store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace server {

struct RoundRow {
    std::int64_t number = 0; // 1, 2, … in the class
    int range = 0;
    int tick = 0; // ms a tick of the countdown
    std::uint32_t seed = 0;
    std::int64_t start = 0; // the first question shows
    std::int64_t end = 0;   // the last question's end
};

// An answer of a device, as the server took it.
struct RoundAnswer {
    int question = 0;
    int button = 0;
    int points = 0; // what it scored: 0 unless counted and right
    bool counted = false;
    bool right = false;
    std::int64_t received = 0;
};

// A device joined to a round, with its answers in question order.
struct RoundDevice {
    std::string device;
    std::string name;                     // UTF-8; empty when none was sent
    std::optional<std::int64_t> shortest; // the shortest round trip measured; none
    std::int64_t joined = 0;              // when it first joined
    std::vector<RoundAnswer> answers;
};

// What join made of a device's joining.
enum class Joined {
    joined,      // joined now, or again (a reload)
    noSuchRound, //
    started,     // the round had started and the device had not joined it
};

class RoundStore {
public:
    virtual ~RoundStore() = default;

    // The class's latest round; none before its first.
    virtual std::optional<RoundRow> latest(std::int64_t classId) = 0;
    virtual std::optional<RoundRow> round(std::int64_t classId, std::int64_t number) = 0;
    // Stores `wanted` as round latest + 1 (its number set so), unless the latest has not ended
    // at `now` or another round took that number meanwhile: none then.
    virtual std::optional<RoundRow> start(std::int64_t classId, RoundRow wanted, std::int64_t now) = 0;
    // Joins the device to the round at `now`: allowed before the round's start, or again once
    // joined. A name replaces the one kept; a round trip is kept when shorter than the one kept.
    virtual Joined join(std::int64_t classId, std::int64_t number, const std::string& device,
                        const std::optional<std::string>& name, std::optional<std::int64_t> roundTrip,
                        std::int64_t now) = 0;
    // The device as joined to the round, with its answers; none when it has not joined it.
    virtual std::optional<RoundDevice> device(std::int64_t classId, std::int64_t number, const std::string& device) = 0;
    // Stores the answer unless the device has one to that question: the answer kept either way.
    virtual RoundAnswer answer(std::int64_t classId, std::int64_t number, const std::string& device,
                               const RoundAnswer& answer) = 0;
    // Every device joined to the round, in the order they joined, with their answers.
    virtual std::vector<RoundDevice> devices(std::int64_t classId, std::int64_t number) = 0;
    // Every round of the class with the devices joined to it, oldest round first (the class's
    // games, for what it gets wrong).
    virtual std::vector<std::pair<RoundRow, std::vector<RoundDevice>>> all(std::int64_t classId) = 0;
};

} // namespace server

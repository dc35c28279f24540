// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/message.h"

// The entries a device keeps for the class server until the server has them (the desktop's
// outbox, the page's): what an answer to a sent entry means for it, and what the pupil is told.
// Each entry carries an id the server stores once, so an entry is sent again as often as it
// waits, and leaves the queue only when the server has it or never will take it.
namespace classqueue {

// The body of an answer, as the client read it.
enum class Body {
    none,        // no answer at all: no network, a time-out, a connection cut
    serverJson,  // a JSON object without a string "error" member: the server's own answer
    serverError, // a JSON object with a string "error" member: the server's refusal
    other,       // anything else: a proxy's or a portal's HTML page, an empty body, other text
};

enum class Fate {
    stored,  // the server has it: out of the queue
    refused, // the server will never take it (a malformed entry, an unknown class, a name it
             // refuses): out of the queue, kept in the device's own lists, the pupil told why
    waiting, // anything else (too many requests, the server or its database down, a proxy's
             // page, a 404 that is not the server's): stays in the queue and is sent again
};

// The fate of an entry whose request answered `status` (0 for no answer) with `body`. Stored:
// 200 with the server's JSON. Refused: 400, 403, 404, 409, 413 or 422 with the server's JSON
// error. Waiting: everything else.
Fate fateOf(int status, Body body);

// What the pupil is told when a save ends so. An entry stored is told nothing.
// The entry waits on the device and goes when the class can be reached.
extern const MessageText saveWaiting;
// The server refused the entry (status, as fateOf took it) for good: the sentence says why where
// the status tells it (400 the name or score, 422 a game the server could not check by its
// ticket and replay); keptOnDevice: the entry went into the device's own lists.
MessageText saveRefused(int status, bool keptOnDevice);
// A pupil's 初期化 the teacher has turned off (403 with the server's JSON error): nothing changed.
extern const MessageText clearTeacherOnly;

} // namespace classqueue

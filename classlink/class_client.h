// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QUrl>

#include <chrono>
#include <optional>

// One request of the class server's JSON API, made and waited for in the calling thread, with
// a network access of its own: the results window calls it from the thread that saves while
// the window paints. HTTPS is checked against the system's certificates.
namespace classlink {

// What came of a request.
struct Answer {
    enum Kind {
        Answered,    // 200 with a JSON object
        Refused,     // refused for good with a JSON reason (400 malformed, 404 unknown class,
                     // 413 too large): nothing was stored, and sending it again changes nothing
        Unreachable, // no answer within the wait, no network, a refusal for now (429 too many,
                     // 503 database down, any other status), or an answer from something that
                     // is no class server: nothing is known to be stored
    };
    Kind kind = Unreachable;
    QJsonObject body;
};

// GET url, or POST body to it as JSON where body is given. Gives up after wait, however the
// server trickles its answer; an answer longer than any the API gives is not read.
Answer request(const QUrl& url, const std::optional<QJsonObject>& body, std::chrono::milliseconds wait);

} // namespace classlink

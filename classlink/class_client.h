// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/class_queue.h"

#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

// One request of the class server's JSON API, made and waited for in the calling thread, with
// a network access of its own: the results window calls it from the thread that saves while
// the window paints. HTTPS is checked against the system's certificates.
namespace classlink {

// What came of a request: the queue rule's fate of an entry sent so (rules/class_queue.h).
struct Answer {
    classqueue::Fate fate = classqueue::Fate::waiting;
    int status = 0;   // the HTTP status; 0 where nothing answered within the wait
    QJsonObject body; // the JSON object answered, where one was
    bool stored() const { return fate == classqueue::Fate::stored; }
};

// The header that names the device to the class server on every request.
inline constexpr char deviceHeader[] = "X-Nubora-Device";

// GET url, or POST body to it as JSON where body is given, naming the device where device is
// given. Gives up after wait, however the server trickles its answer; an answer longer than any
// the API gives is not read.
Answer request(const QUrl& url, const std::optional<QJsonObject>& body, std::chrono::milliseconds wait,
               const QString& device = {});

} // namespace classlink

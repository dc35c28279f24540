// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// PostgreSQL's notices of the classes' changes, heard on an Asio event loop (http_server.h):
// a libpq connection of its own, made without waiting on the loop (PQconnectStart; only a host
// given by name is looked up there, as libpq does), LISTENs on changesChannel (store.h); its
// socket is watched by the loop (PQsocket in a posix::stream_descriptor), and each notice's
// payload, a class's id and what happened (store.h's changePayload), is handed to `heard` there. When the connection
// fails or is lost (the database restarted), it is made again a second later, and again until the database answers;
// once it listens again, heard(0) says that any class may have changed meanwhile (heard(0, ClassEvent::changed)).
#include "server/store.h"

#include <boost/asio/io_context.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace server {

// Listens until the returned object goes; it must go before the loop does.
std::shared_ptr<void> listenForChanges(boost::asio::io_context& loop, const std::string& conninfo,
                                       std::function<void(std::int64_t classId, ClassEvent what)> heard);

} // namespace server

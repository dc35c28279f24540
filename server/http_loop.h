// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the HTTP server's connections share (server/http_server.h's implementation, for
// http_server.cpp and http_connection.cpp alone): the API, the limits, the counts of
// connections, the event loop and the handlers' pool. All but the pool is touched on the
// loop's thread only.
#include "server/http_server.h"

#include <boost/asio.hpp>

#include <csignal>
#include <string>
#include <unordered_map>

namespace server {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// What every connection shares: the API, the limits, the counts, the loop and the pool.
struct HttpServer::Loop {
    Loop(HttpLimits limits) : limits(limits), pool(limits.handlerThreads) {}
    ~Loop() { pool.join(); } // the answers under way; then the loop's objects go

    void accept();
    void admit(tcp::socket socket);
    void release(const std::string& address);
    // Serves a connection admitted from `address`, counted under `group`, until it closes
    // (http_connection.cpp).
    void serve(tcp::socket socket, std::string address, std::string group);

    Api* api = nullptr;
    const HttpLimits limits;
    std::size_t maxConnections = 0;
    std::size_t connections = 0;
    std::size_t largeBodies = 0; // bytes reserved for bodies over pupilBodyLimit being read
    std::size_t answerBytes = 0; // bytes of the answers being written
    std::unordered_map<std::string, std::size_t> perAddress;
    asio::io_context context{1};
    tcp::acceptor acceptor{context};
    asio::signal_set signals{context, SIGINT, SIGTERM};
    asio::steady_timer acceptPause{context};
    asio::thread_pool pool; // last: its threads end first
};

} // namespace server

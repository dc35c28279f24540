// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the HTTP server's connections share (server/http_server.h's implementation, for
// http_server.cpp and http_connection.cpp alone): the API, the limits, the counts of
// connections, the event loop and the handlers' pool. All but the pool is touched on the
// loop's thread only.
#include "server/http_server.h"

#include <boost/asio.hpp>

#include <csignal>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace server {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

// What a teacher's stream of a class is sent when the class's lists change, and what a
// stream is sent of its rounds (the pupils': one started; the teacher's: started, joined,
// answered).
inline constexpr std::string_view changeEvent = "event: change\ndata: {}\n\n";
inline constexpr std::string_view roundEvent = "event: round\ndata: {}\n\n";

// A connection that has become an event stream (http_connection.cpp); on the loop's thread.
struct EventStream {
    virtual ~EventStream() = default;
    // Queues bytes for the client; past limits.streamBytes not yet taken, the client is dropped.
    virtual void send(std::string_view bytes) = 0;
    // Shuts the connection down after what the kernel holds: the answer's end.
    virtual void end() = 0;
};

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
    // Adds a stream of the class, the teacher's or the pupils', unless the class has
    // streamsPerClass (pupilStreamsPerClass) of them already (http_server.cpp).
    bool addStream(std::int64_t classId, bool pupils, std::weak_ptr<EventStream> stream);
    // Sends bytes to every teacher's (pupils') stream of the class (0: of every class).
    void broadcast(std::int64_t classId, bool pupils, std::string_view bytes);
    // Tells the class's streams (0: of every class) what happened (store.h's ClassEvent).
    void tell(std::int64_t classId, ClassEvent what);
    void heartbeat();
    void end(); // the streams ended, then the loop

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
    using Streams = std::unordered_map<std::int64_t, std::vector<std::weak_ptr<EventStream>>>; // by class
    Streams streams;                                                                           // the teacher's
    Streams pupilStreams;                                                                      // the pupils'
    asio::steady_timer beat{context};
    std::shared_ptr<void> listener; // PostgreSQL's notices (pg_listener.h), while run() runs
    asio::thread_pool pool;         // last: its threads end first
};

} // namespace server

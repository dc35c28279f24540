// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The class server's HTTP/1.1: every connection on one event loop (Boost.Asio's io_context, run
// by the thread that calls run()), every request answered by Api::handle on a small pool of
// threads off that loop (the database's work), its answer written back on the loop. A
// connection that is slow, silent or idle costs a socket and a timer, never a thread, so that
// pupils' saves are answered whatever a hostile or broken device holds open.
//
// What a client may send, and what happens past it (HttpLimits):
//  - the request line and headers: at most headerBytes in all and headerFields lines, sent
//    within headerTime of the request's first byte; past either, 431 {"error":...};
//  - a body of at most pupilBodyLimit bytes, or importLimit under /api/v1/teachers/ (the
//    teacher's import), sent within bodyTime of the headers' end; past it, 413 {"error":...};
//    bodies larger than pupilBodyLimit being received at once hold at most largeBodyBytes in
//    all, past which 503 {"error":...};
//  - a malformed request: 400 {"error":...};
//  - between requests on a keep-alive connection (and before the first), idleTime of silence;
//  - an answer must be taken by the client within writeTime; the answers being written hold at
//    most answerBytes in all, past which an answer is 503 {"error":...} instead;
//  - connections: at most perAddress from one peer address (an IPv6 one's /64; a reverse proxy
//    on this machine, 127.0.0.1 or ::1, is held by the total alone) and `total` in all (fewer when the process may open
//    fewer files: the soft RLIMIT_NOFILE is raised to the hard one, and `total` kept below it). Past those, a new
//    connection is closed at once, unread.
//  - event streams (an answer of Api's with Response.stream: the teacher's page's
//    GET …/events, and the pupils' GET /api/v1/classes/KEY/events): the header, then the
//    events as they come, until either side closes. A stream is a connection: counted under
//    perAddress and `total` as any other, and at most streamsPerClass teacher's streams and
//    pupilStreamsPerClass pupils' streams open on one class (past it, 503 {"error":...}). Neither idleTime nor
//    writeTime applies to it as a whole, but its bytes not yet taken by the client (the
//    socket's send buffer is set to streamBytes too) are held to streamBytes: a client that
//    does not read its events is dropped, never buffered for. What the client sends on a
//    stream is read and dropped; its close ends the stream. Every heartbeatTime each stream
//    gets a comment line, so that proxies keep it open. stop() ends every stream (the
//    connection shut down after what the kernel holds) before the loop ends.
// After a refusal (4xx from this layer, a timeout) the connection is closed; a 4xx answer is
// written first, then the rest of what the client sends is read and dropped for a moment, so
// that the kernel does not reset the connection before the client reads the answer.
// Memory therefore stays within about total × (headerBytes + a connection's own few kB) plus
// largeBodyBytes plus answerBytes: nothing a client sends grows it without bound.
//
// A class's changes reach its streams through changed(), sent on the loop at once: a change of
// its lists an event "change" (data "{}") to each teacher's stream of the class; a round
// started "round" to each of its streams, the teacher's and the pupils'; a device joining or
// answering "round" to the teacher's alone. After the database comes back (below), every
// teacher's stream gets both, and every pupils' stream "round". Who calls it: with SQLite the store, after
// each commit of this process (Store::hear). Several servers share classes through
// PostgreSQL alone (README, "What several servers share"): the commands run beside a server
// on its SQLite file (`class add`, `list`, `remove`) change no class's lists, and a second
// server on the same file would be heard by its own streams only.
// With PostgreSQL, listenToPostgres(): a connection of its own LISTENs on the database's
// notices (Store::changesHeardAt), which every process's changes send in their transactions,
// so that a stream hears the changes made through any server on the same database; its
// socket is watched by the loop, and after the database comes back, every stream is told that
// its class may have changed.
//
// Requests: Request.client is the peer's address, or the last address of X-Forwarded-For when the
// peer is on loopback (a reverse proxy on this machine); device, origin, host and fetchSite
// come from X-Nubora-Device, Origin, Host and Sec-Fetch-Site; path is the target up to "?",
// percent-decoded. Every answer carries X-Content-Type-Options: nosniff; HEAD answers carry no
// body. Sockets are TCP_NODELAY; the listening socket's backlog is SOMAXCONN.
#include "server/api.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace server {

struct HttpLimits {
    std::size_t headerBytes = 16384;
    std::size_t headerFields = 100;
    std::chrono::milliseconds headerTime = std::chrono::seconds(10);
    std::chrono::milliseconds bodyTime = std::chrono::seconds(10);
    std::chrono::milliseconds idleTime = std::chrono::seconds(5);
    std::chrono::milliseconds writeTime = std::chrono::seconds(30);
    std::size_t largeBodyBytes = 8 << 20;
    std::size_t answerBytes = 256 << 20;
    std::size_t perAddress = 512;
    std::size_t total = 16000;
    std::size_t handlerThreads = 16;
    std::size_t streamsPerClass = 32;       // the teacher's page's
    std::size_t pupilStreamsPerClass = 100; // the pupils' (a class round's starts)
    std::size_t streamBytes = 4096;
    std::chrono::milliseconds heartbeatTime = std::chrono::seconds(20);
};

class HttpServer {
public:
    // Listens on host:port (port 0: a free one). Throws std::system_error when it cannot.
    HttpServer(const std::string& host, int port, HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int port() const;
    // The connections the process may hold at once: limits.total, or fewer (RLIMIT_NOFILE).
    std::size_t connectionLimit() const;
    // Answers every request with api until SIGINT or SIGTERM (or stop()); the requests being
    // handled finish before it returns. api must outlive the server.
    void run(Api& api);
    // Ends run() from any thread, the event streams first.
    void stop();
    // Tells the event streams of the class (0: of every class) what changed; from any thread.
    void changed(std::int64_t classId, ClassEvent what = ClassEvent::changed);
    // Hears the classes' changes from PostgreSQL at conninfo while run() runs (pg_listener.h),
    // instead of from changed().
    void listenToPostgres(const std::string& conninfo);

    struct Loop; // the connections' shared state (http_server.cpp)

private:
    std::unique_ptr<Loop> loop;
};

} // namespace server

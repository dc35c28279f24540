// SPDX-License-Identifier: GPL-3.0-or-later
// HTTP/1.1 from Boost.Beast on Boost.Asio: one io_context, run by one thread, holds every
// connection (http_connection.cpp); this file listens, admits and counts them.
#include "server/http_loop.h"
#include "server/pg_listener.h"

#include <algorithm>

#include <sys/resource.h>

namespace server {

using boost::system::error_code;

void HttpServer::Loop::accept()
{
    acceptor.async_accept(context, [this](error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted)
            return;
        if (ec) { // out of files or memory for a moment: the backlog waits
            acceptPause.expires_after(std::chrono::milliseconds(50));
            acceptPause.async_wait([this](error_code e) {
                if (!e)
                    accept();
            });
            return;
        }
        admit(std::move(socket));
        accept();
    });
}

void HttpServer::Loop::admit(tcp::socket socket)
{
    error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec)
        return;
    asio::ip::address a = peer.address();
    if (a.is_v6() && a.to_v6().is_v4_mapped())
        a = asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
    std::string address = a.to_string();
    // An IPv6 device draws addresses from its network's /64 at will: its connections count
    // under that prefix.
    std::string group = address;
    if (a.is_v6() && !a.is_loopback()) {
        asio::ip::address_v6::bytes_type prefix = a.to_v6().to_bytes();
        std::fill(prefix.begin() + 8, prefix.end(), 0);
        group = asio::ip::address_v6(prefix).to_string() + "/64";
    }
    // A reverse proxy on this machine (127.0.0.1 or ::1) brings every pupil's connections: only
    // the total holds it.
    const bool proxy = address == "127.0.0.1" || address == "::1";
    std::size_t& mine = perAddress[group];
    if (connections >= maxConnections || (mine >= limits.perAddress && !proxy)) {
        if (mine == 0)
            perAddress.erase(group);
        return; // closed as it goes, unread
    }
    socket.set_option(tcp::no_delay(true), ec);
    ++connections;
    ++mine;
    serve(std::move(socket), std::move(address), std::move(group));
}

void HttpServer::Loop::release(const std::string& address)
{
    --connections;
    const auto at = perAddress.find(address);
    if (at != perAddress.end() && --at->second == 0)
        perAddress.erase(at);
}

bool HttpServer::Loop::addStream(std::int64_t classId, bool pupils, std::weak_ptr<EventStream> stream)
{
    std::vector<std::weak_ptr<EventStream>>& mine = (pupils ? pupilStreams : streams)[classId];
    std::erase_if(mine, [](const std::weak_ptr<EventStream>& s) { return s.expired(); });
    if (mine.size() >= (pupils ? limits.pupilStreamsPerClass : limits.streamsPerClass))
        return false;
    mine.push_back(std::move(stream));
    return true;
}

void HttpServer::Loop::broadcast(std::int64_t classId, bool pupils, std::string_view bytes)
{
    Streams& streams = pupils ? pupilStreams : this->streams;
    // Each class's streams sent the bytes, those gone let go; the next class's.
    const auto sendTo = [&](Streams::iterator at) {
        for (const std::weak_ptr<EventStream>& s : at->second)
            if (const auto stream = s.lock())
                stream->send(bytes);
        std::erase_if(at->second, [](const std::weak_ptr<EventStream>& s) { return s.expired(); });
        return at->second.empty() ? streams.erase(at) : std::next(at);
    };
    if (classId == 0)
        for (auto at = streams.begin(); at != streams.end();)
            at = sendTo(at);
    else if (const auto at = streams.find(classId); at != streams.end())
        sendTo(at);
}

void HttpServer::Loop::tell(std::int64_t classId, ClassEvent what)
{
    if (what == ClassEvent::changed || classId == 0)
        broadcast(classId, false, changeEvent);
    if (what != ClassEvent::changed || classId == 0)
        broadcast(classId, false, roundEvent);
    if (what == ClassEvent::roundStarted || classId == 0)
        broadcast(classId, true, roundEvent);
}

void HttpServer::Loop::heartbeat()
{
    beat.expires_after(limits.heartbeatTime);
    beat.async_wait([this](error_code ec) {
        if (ec)
            return;
        broadcast(0, false, ":\n\n");
        broadcast(0, true, ":\n\n");
        heartbeat();
    });
}

void HttpServer::Loop::end()
{
    error_code ignored;
    acceptor.close(ignored);
    beat.cancel();
    listener.reset();
    for (const Streams* all : {&streams, &pupilStreams})
        for (const auto& [id, mine] : *all)
            for (const std::weak_ptr<EventStream>& s : mine)
                if (const auto stream = s.lock())
                    stream->end();
    context.stop();
}

HttpServer::HttpServer(const std::string& host, int port, HttpLimits limits) : loop(std::make_unique<Loop>(limits))
{
    // Room for the connections: the soft limit on files raised to the hard one, and some kept
    // for the databases, the pool's threads and the standard files.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        if (files.rlim_cur < files.rlim_max) {
            rlimit raised = files;
            raised.rlim_cur = files.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                files = raised;
        }
        constexpr rlim_t kept = 128;
        loop->maxConnections =
            std::min<std::size_t>(limits.total, files.rlim_cur > kept * 2 ? files.rlim_cur - kept : files.rlim_cur / 2);
    } else
        loop->maxConnections = limits.total;

    tcp::resolver resolver(loop->context);
    const tcp::endpoint at = resolver.resolve(host, std::to_string(port), tcp::resolver::passive)->endpoint();
    tcp::acceptor& acceptor = loop->acceptor;
    acceptor.open(at.protocol());
    acceptor.set_option(tcp::acceptor::reuse_address(true));
    acceptor.bind(at);
    acceptor.listen(asio::socket_base::max_listen_connections); // SOMAXCONN: forty pupils at once
}

HttpServer::~HttpServer() = default;

int HttpServer::port() const
{
    return loop->acceptor.local_endpoint().port();
}

std::size_t HttpServer::connectionLimit() const
{
    return loop->maxConnections;
}

void HttpServer::run(Api& api)
{
    loop->api = &api;
    loop->signals.async_wait([this](error_code ec, int) {
        if (!ec)
            stop();
    });
    loop->accept();
    loop->heartbeat();
    loop->context.run();
    loop->pool.join(); // the requests being handled; their answers are not written
}

void HttpServer::stop()
{
    asio::post(loop->context, [l = loop.get()] { l->end(); });
}

void HttpServer::changed(std::int64_t classId, ClassEvent what)
{
    asio::post(loop->context, [l = loop.get(), classId, what] { l->tell(classId, what); });
}

void HttpServer::listenToPostgres(const std::string& conninfo)
{
    loop->listener = listenForChanges(
        loop->context, conninfo, [l = loop.get()](std::int64_t classId, ClassEvent what) { l->tell(classId, what); });
}

} // namespace server
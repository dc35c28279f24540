// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/pg_listener.h"

#include "server/store.h"

#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <libpq-fe.h>

#include <cstdlib>
#include <iostream>

namespace server {

namespace {

namespace asio = boost::asio;
using boost::system::error_code;

class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(asio::io_context& loop, std::string conninfo, std::function<void(std::int64_t, ClassEvent)> heard)
        : socket(loop), timer(loop), conninfo(std::move(conninfo)), heard(std::move(heard))
    {
    }
    ~Listener() { drop(); }

    void connect()
    {
        const char* keys[] = {"dbname", nullptr};
        const char* values[] = {conninfo.c_str(), nullptr};
        c = PQconnectStartParams(keys, values, 1);
        if (!c || PQstatus(c) == CONNECTION_BAD)
            return retry();
        PQsetNoticeProcessor(
            c, [](void*, const char*) {}, nullptr);    // the loss is said once, below
        timer.expires_after(std::chrono::seconds(10)); // libpq keeps no time of its own here
        timer.async_wait([weak = weak_from_this()](error_code ec) {
            if (const auto self = weak.lock(); self && !ec && !self->listening)
                self->retry();
        });
        poll(PGRES_POLLING_WRITING);
    }

private:
    // One step of the connection's making, each when its socket is ready for it.
    void poll(PostgresPollingStatusType status)
    {
        if (status == PGRES_POLLING_OK)
            return listen();
        if (status == PGRES_POLLING_FAILED)
            return retry();
        watch(status == PGRES_POLLING_READING ? asio::posix::descriptor_base::wait_read
                                              : asio::posix::descriptor_base::wait_write,
              [this] { poll(PQconnectPoll(c)); });
    }

    void listen()
    {
        timer.cancel();
        if (!PQsendQuery(c, (std::string("LISTEN ") + changesChannel).c_str()))
            return retry();
        listening = true;
        told = false;
        read();
    }

    // What the database sent: the LISTEN's answer (after which every class may have changed
    // while none listened), then the notices.
    void read()
    {
        watch(asio::posix::descriptor_base::wait_read, [this] {
            if (!PQconsumeInput(c))
                return retry();
            while (!PQisBusy(c))
                if (PGresult* r = PQgetResult(c)) {
                    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
                    PQclear(r);
                    if (!ok)
                        return retry();
                    if (!told) {
                        told = true;
                        heard(0, ClassEvent::changed);
                    }
                } else
                    break;
            while (PGnotify* n = PQnotifies(c)) {
                const auto [id, what] = readChangePayload(n->extra);
                PQfreemem(n);
                if (id > 0)
                    heard(id, what);
            }
            read();
        });
    }

    // Calls then() once the connection's socket (which libpq may change while connecting) is
    // ready as asked; retries on an error.
    template <typename Then>
    void watch(asio::posix::descriptor_base::wait_type what, Then then)
    {
        const int fd = PQsocket(c);
        if (fd < 0)
            return retry();
        if (socket.is_open() && socket.native_handle() != fd)
            socket.release();
        error_code ec;
        if (!socket.is_open())
            socket.assign(fd, ec);
        if (ec)
            return retry();
        socket.async_wait(what, [weak = weak_from_this(), then](error_code e) {
            const auto self = weak.lock();
            if (!self || e == asio::error::operation_aborted)
                return;
            if (e)
                return self->retry();
            then();
        });
    }

    // The connection let go (its socket is libpq's to close); another in a second.
    void drop()
    {
        if (socket.is_open()) {
            socket.cancel();
            socket.release();
        }
        if (c)
            PQfinish(c);
        c = nullptr;
        listening = false;
    }
    void retry()
    {
        if (listening)
            std::cerr << "nubora1-server: lost PostgreSQL's notices of changes; connecting again" << std::endl;
        drop();
        timer.expires_after(std::chrono::seconds(1));
        timer.async_wait([weak = weak_from_this()](error_code ec) {
            if (const auto self = weak.lock(); self && !ec)
                self->connect();
        });
    }

    asio::posix::stream_descriptor socket;
    asio::steady_timer timer;
    const std::string conninfo;
    const std::function<void(std::int64_t, ClassEvent)> heard;
    PGconn* c = nullptr;
    bool listening = false, told = false;
};

} // namespace

std::shared_ptr<void> listenForChanges(asio::io_context& loop, const std::string& conninfo,
                                       std::function<void(std::int64_t classId, ClassEvent what)> heard)
{
    auto listener = std::make_shared<Listener>(loop, conninfo, std::move(heard));
    listener->connect();
    return listener;
}

} // namespace server

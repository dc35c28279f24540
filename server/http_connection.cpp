// SPDX-License-Identifier: GPL-3.0-or-later
// One connection of the HTTP server: a state machine of reads, writes and one deadline timer,
// all on the event loop's thread.
#include "server/http_loop.h"
#include "server/routes.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <optional>
#include <sstream>

namespace server {

namespace {

namespace http = boost::beast::http;
using boost::system::error_code;

constexpr std::size_t readSize = 4096;
constexpr auto lingerTime = std::chrono::seconds(2);
constexpr std::size_t lingerBytes = 256 * 1024;
constexpr std::string_view teachersApi = sidePrefix(Side::teachers);

// The target's path, up to "?", with %XX decoded.
std::string decodedPath(std::string_view target)
{
    target = target.substr(0, target.find('?'));
    std::string path;
    for (std::size_t i = 0; i < target.size(); ++i) {
        const auto hex = [](char c) {
            return c >= '0' && c <= '9'   ? c - '0'
                   : c >= 'a' && c <= 'f' ? c - 'a' + 10
                   : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        };
        if (target[i] == '%' && i + 2 < target.size() && hex(target[i + 1]) >= 0 && hex(target[i + 2]) >= 0) {
            path += char(hex(target[i + 1]) * 16 + hex(target[i + 2]));
            i += 2;
        } else
            path += target[i];
    }
    return path;
}

bool isLoopback(const std::string& address)
{
    return address.rfind("127.", 0) == 0 || address == "::1";
}

class Connection : public EventStream, public std::enable_shared_from_this<Connection> {
public:
    Connection(HttpServer::Loop& loop, tcp::socket socket, std::string address, std::string group)
        : loop(loop), socket(std::move(socket)), timer(loop.context), address(std::move(address)),
          group(std::move(group)), buffer(loop.limits.headerBytes + readSize)
    {
    }
    ~Connection()
    {
        loop.largeBodies -= reserved;
        loop.answerBytes -= answering;
        loop.release(group);
    }

    // Waits for a request: the next one already read, or silence for at most idleTime.
    void awaitRequest()
    {
        parser.emplace();
        parser->header_limit(std::uint32_t(loop.limits.headerBytes));
        parser->body_limit(pupilBodyLimit);
        scanned = lines = 0;
        headerDone = lineSeen = false;
        if (buffer.size() > 0) {
            deadline(loop.limits.headerTime);
            return parse();
        }
        buffer.shrink_to_fit(); // an idle connection holds no buffer
        deadline(loop.limits.idleTime);
        socket.async_wait(tcp::socket::wait_read, [self = shared_from_this()](error_code ec) {
            if (ec)
                return self->close();
            self->deadline(self->loop.limits.headerTime);
            self->read();
        });
    }

private:
    // The connection closes at `after` from now, unless a deadline is set again first. The
    // timer is set again only for an earlier deadline: a later one is found when it fires.
    void deadline(std::chrono::milliseconds after) { deadline(asio::steady_timer::clock_type::now() + after); }
    void deadline(asio::steady_timer::time_point at)
    {
        due = at;
        if (!timing || due < timer.expiry())
            arm();
    }
    void arm()
    {
        timing = true;
        timer.expires_at(due);
        timer.async_wait([weak = weak_from_this()](error_code ec) {
            const auto self = weak.lock();
            if (!self || ec) // gone, or set again
                return;
            self->timing = false;
            if (self->due <= asio::steady_timer::clock_type::now())
                self->close();
            else if (self->due != asio::steady_timer::time_point::max())
                self->arm();
        });
    }
    void close()
    {
        error_code ignored;
        timer.cancel();
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
    }

    void read()
    {
        const std::size_t room = std::min(readSize, buffer.max_size() - buffer.size());
        if (room == 0)
            return refuse(431, "request header too large");
        socket.async_read_some(buffer.prepare(room), [self = shared_from_this()](error_code ec, std::size_t n) {
            if (ec)
                return self->close();
            self->buffer.commit(n);
            self->parse();
        });
    }

    // Counts the header's lines as they come (the parser takes a header only whole), and sets
    // the body's limit from the request line before the parser reads Content-Length.
    bool headerWithinLimits()
    {
        const std::string_view in(static_cast<const char*>(buffer.data().data()), buffer.size());
        const std::size_t end = in.find("\r\n\r\n", scanned < 3 ? 0 : scanned - 3);
        const std::size_t stop = end == std::string_view::npos ? in.size() : end;
        if (stop > scanned)
            lines +=
                std::size_t(std::count(in.begin() + std::ptrdiff_t(scanned), in.begin() + std::ptrdiff_t(stop), '\n'));
        if (const std::size_t eol = in.find('\n'); !lineSeen && eol != std::string_view::npos) {
            lineSeen = true;
            const std::size_t space = in.find(' ');
            if (space < eol && in.substr(space + 1, teachersApi.size()) == teachersApi)
                parser->body_limit(importLimit);
        }
        scanned = std::max(scanned, stop);
        return lines <= loop.limits.headerFields + 1;
    }

    void parse()
    {
        while (buffer.size() > 0) {
            if (!headerDone && !headerWithinLimits())
                return refuse(431, "request header too large");
            error_code ec;
            const std::size_t n = parser->put(buffer.data(), ec);
            buffer.consume(n);
            if (ec == http::error::need_more)
                break;
            if (ec == http::error::header_limit)
                return refuse(431, "request header too large");
            if (ec == http::error::body_limit)
                return refuse(413, "request too large");
            if (ec)
                return refuse(400, "bad request");
            if (!headerDone && parser->is_header_done() && !headerArrived())
                return;
            if (parser->is_done())
                return dispatch();
        }
        read();
    }

    // The header is whole: its fields counted, a large body's bytes reserved, the body's clock.
    bool headerArrived()
    {
        headerDone = true;
        const auto& header = parser->get();
        if (std::size_t(std::distance(header.begin(), header.end())) > loop.limits.headerFields) {
            refuse(431, "request header too large");
            return false;
        }
        const std::size_t size = parser->content_length() ? std::size_t(*parser->content_length())
                                 : parser->chunked()      ? importLimit
                                                          : 0;
        if (size > pupilBodyLimit) {
            if (loop.largeBodies + size > loop.limits.largeBodyBytes) {
                refuse(503, "server busy");
                return false;
            }
            reserved = std::min(size, importLimit);
            loop.largeBodies += reserved;
        }
        if (!parser->is_done()) {
            deadline(loop.limits.bodyTime);
            if (boost::beast::iequals(header[http::field::expect], "100-continue"))
                asio::async_write(socket, asio::buffer(std::string_view("HTTP/1.1 100 Continue\r\n\r\n")),
                                  [self = shared_from_this()](error_code ec, std::size_t) {
                                      if (ec)
                                          self->close();
                                  });
        }
        return true;
    }

    void dispatch()
    {
        deadline(asio::steady_timer::time_point::max()); // the answer's time is the server's own
        auto& message = parser->get();
        version = message.version();
        keepAlive = message.keep_alive();
        const auto header = [&](std::string_view name) { return std::string(message[name]); };
        std::string client = address;
        if (isLoopback(address) && message.count("X-Forwarded-For")) {
            client = header("X-Forwarded-For");
            client = client.substr(client.rfind(',') + 1);
            client.erase(0, client.find_first_not_of(' '));
        }
        Request request{
            std::string(message.method_string()),
            decodedPath(message.target()),
            std::move(message.body()),
            client,
            header("X-Nubora-Device"),
            header("Origin"),
            header("Host"),
            header("Sec-Fetch-Site"),
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count()};
        parser.reset();
        HttpServer::Loop& l = loop;
        asio::post(l.pool, [self = shared_from_this(), request = std::move(request), &l]() mutable {
            Response response;
            try {
                response = l.api->handle(request);
            } catch (const std::exception&) {
                response = errorResponse(500, "internal error");
            }
            asio::post(l.context, [self = std::move(self), response = std::move(response)]() mutable {
                self->respond(std::move(response));
            });
        });
    }

    void refuse(int status, std::string_view reason)
    {
        keepAlive = false;
        parser.reset();
        respond(errorResponse(status, reason));
    }

    void respond(Response response)
    {
        loop.largeBodies -= reserved;
        reserved = 0;
        if (response.stream && response.status == 200)
            return openStream(std::move(response));
        if (loop.answerBytes + response.body.size() > loop.limits.answerBytes) {
            response = errorResponse(503, "server busy");
            keepAlive = false;
        }
        answering = response.body.size();
        loop.answerBytes += answering;
        answer = {};
        answer.version(version);
        answer.result(unsigned(response.status));
        for (const auto& [name, value] : response.headers)
            answer.set(name, value);
        answer.set("X-Content-Type-Options", "nosniff");
        answer.set(http::field::content_type, response.type.empty() ? "text/plain" : response.type);
        answer.body() = std::move(response.body);
        answer.keep_alive(keepAlive);
        answer.prepare_payload();
        deadline(loop.limits.writeTime);
        http::async_write(socket, answer, [self = shared_from_this()](error_code ec, std::size_t) {
            self->answer = {};
            self->loop.answerBytes -= self->answering;
            self->answering = 0;
            if (ec)
                return self->close();
            if (!self->keepAlive)
                return self->linger();
            self->awaitRequest();
        });
    }

    // The answer's header with no length (it ends when the connection does), then the class's
    // events as they come (send); no deadline, but at most streamBytes not yet taken.
    void openStream(Response response)
    {
        if (!loop.addStream(response.stream, response.pupilsStream, weak_from_this())) {
            keepAlive = false;
            return respond(errorResponse(503, "too many event streams"));
        }
        http::response_header<> head;
        head.version(version);
        head.result(http::status::ok);
        for (const auto& [name, value] : response.headers)
            head.set(name, value);
        head.set("X-Content-Type-Options", "nosniff");
        head.set(http::field::content_type, response.type);
        head.set(http::field::connection, "close");
        std::ostringstream out;
        out << head << "retry: 2000\n\n"; // EventSource's wait before it connects again
        error_code ignored;
        socket.set_option(asio::socket_base::send_buffer_size(int(loop.limits.streamBytes)), ignored);
        buffer.clear();
        buffer.shrink_to_fit();
        queued = out.str();
        flush();
        drain(0, false);
    }

public:
    void send(std::string_view bytes) override
    {
        if (!socket.is_open())
            return;
        if (queued.size() + sending.size() + bytes.size() > loop.limits.streamBytes)
            return close();
        queued += bytes;
        flush();
    }
    void end() override
    {
        error_code ignored;
        socket.shutdown(tcp::socket::shutdown_send, ignored);
    }

private:
    void flush()
    {
        if (writing || queued.empty())
            return;
        writing = true;
        sending.swap(queued);
        asio::async_write(socket, asio::buffer(sending), [self = shared_from_this()](error_code ec, std::size_t) {
            self->writing = false;
            self->sending.clear();
            if (ec)
                return self->close();
            self->flush();
        });
    }

    // Closes after the answer: what the client still sends is read and dropped for a moment, so
    // that the kernel does not answer it with a reset that would lose the answer on its way.
    void linger()
    {
        error_code ignored;
        socket.shutdown(tcp::socket::shutdown_send, ignored);
        buffer.clear();
        buffer.shrink_to_fit();
        deadline(std::chrono::duration_cast<std::chrono::milliseconds>(lingerTime));
        drain(0, true);
    }
    // Reads and drops what the client sends until it closes (or, `bounded`, past lingerBytes).
    void drain(std::size_t dropped, bool bounded)
    {
        if (bounded && dropped > lingerBytes)
            return close();
        socket.async_read_some(asio::buffer(dropBuffer),
                               [self = shared_from_this(), dropped, bounded](error_code ec, std::size_t n) {
                                   if (ec)
                                       return self->close();
                                   self->drain(bounded ? dropped + n : 0, bounded);
                               });
    }

    HttpServer::Loop& loop;
    tcp::socket socket;
    asio::steady_timer timer;
    asio::steady_timer::time_point due;
    bool timing = false;              // whether the timer waits (for `due` or an earlier time)
    const std::string address, group; // the peer's address; the one its connections count under
    boost::beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    http::response<http::string_body> answer;
    std::size_t scanned = 0, lines = 0, reserved = 0, answering = 0;
    bool headerDone = false, lineSeen = false, keepAlive = false, writing = false;
    std::string queued, sending; // an event stream's bytes: waiting, and being written
    unsigned version = 11;
    static inline char dropBuffer[readSize]; // what lingering connections drop, all on the loop's thread
};

} // namespace

void HttpServer::Loop::serve(tcp::socket socket, std::string address, std::string group)
{
    std::make_shared<Connection>(*this, std::move(socket), std::move(address), std::move(group))->awaitRequest();
}

} // namespace server

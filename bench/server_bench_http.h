// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What bench/server_bench.cpp measures the class server with: a lean HTTP/1.1 client
// connection, and the hostile devices and crowds of connections of bench/server_hostile.cpp.
// Connections may come from any loopback address (127.0.0.2, 127.0.1.7, …), for the server
// counts connections per address.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace bench {

// Binds a socket to a loopback address before it connects.
bool bindTo(int fd, const char* address);
// A new socket connected to 127.0.0.1:port from `from`; -1 when it cannot.
int connectFrom(int port, const char* from);

// A client's keep-alive HTTP/1.1 connection to 127.0.0.1:port, lean as a load tool is, so that
// the forty clients take little of the two cores the servers need: each request goes out in
// one write, and each answer is read by its Content-Length.
class Connection {
public:
    explicit Connection(int port, const char* from = nullptr) : port(port), from(from) {}
    ~Connection() { disconnect(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends the request (whole, with its headers) and gives the answer's status and body;
    // status 0 when no answer came. A connection the server closed is opened again.
    int exchange(const std::string& request, std::string& body)
    {
        if (fd < 0 && !connectTo())
            return 0;
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
            return disconnect();
        std::string in;
        std::size_t end;
        while ((end = in.find("\r\n\r\n")) == std::string::npos)
            if (!receive(in))
                return disconnect();
        std::string head = in.substr(0, end);
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        const std::size_t length = head.find("\r\ncontent-length:");
        const std::size_t size = length == std::string::npos ? 0 : std::stoul(head.substr(length + 17));
        while (in.size() < end + 4 + size)
            if (!receive(in))
                return disconnect();
        body = in.substr(end + 4, size);
        const int status = head.size() > 12 ? std::atoi(head.c_str() + 9) : 0;
        if (head.find("\r\nconnection: close") != std::string::npos)
            disconnect();
        return status;
    }

private:
    bool connectTo()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // as browsers do
        if (from && !bindTo(fd, from))
            return disconnect();
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return true;
        disconnect();
        return false;
    }
    bool receive(std::string& in)
    {
        char chunk[8192];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        in.append(chunk, std::size_t(n));
        return true;
    }
    int disconnect()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        return 0;
    }

    int port;
    const char* from;
    int fd = -1;
};

// One device holding `slow` connections that each send a header byte every half second (and
// opened again when the server closes them), and another that floods one connection after
// another with header lines of 8 kB: from threads of their own, while the object lives.
class HostileDevices {
public:
    HostileDevices(int port, int slow);
    ~HostileDevices();
    HostileDevices(const HostileDevices&) = delete;
    HostileDevices& operator=(const HostileDevices&) = delete;
    // Flooding connections the server cut off, and ones it read 160 MB of without cutting off.
    long cutOff() const;
    long notCutOff() const;

private:
    struct State;
    State* state;
};

// Opens `count` connections that send nothing (from 127.0.1.1, 127.0.1.2, … 500 each), then
// gives the server's resident memory in MB and how many of them it still holds open.
struct IdleFigures {
    long megabytes = 0, open = 0;
};
IdleFigures idleConnections(int port, long serverPid, int count);

// The resident memory of a process, in MB.
long residentMegabytes(long pid);

// `pages` browsers from one address (127.0.0.4) open the class link at once, each with
// `connections` connections: the page (first), then the files, spread over its connections.
// Gives the seconds until every page had all its files (negative when one failed).
double pageLoads(int port, const std::string& page, const std::vector<std::string>& files, int pages, int connections);

} // namespace bench

// SPDX-License-Identifier: GPL-3.0-or-later
// The crowds and hostile devices bench/server_bench.cpp sets against the class server.
#include "server_bench_http.h"

#include <arpa/inet.h>
#include <poll.h>

#include <atomic>
#include <fstream>
#include <latch>
#include <thread>

namespace bench {

bool bindTo(int fd, const char* address)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    return ::inet_pton(AF_INET, address, &a.sin_addr) == 1
           && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

int connectFrom(int port, const char* from)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval limit{5, 0}; // a send the server never takes ends
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (fd >= 0 && bindTo(fd, from) && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

namespace {

bool sendAll(int fd, const std::string& bytes)
{
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

} // namespace

struct HostileDevices::State {
    std::atomic<bool> stopping{false};
    std::atomic<long> cut{0}, notCut{0};
    std::thread slow, flood;
};

HostileDevices::HostileDevices(int port, int slow) : state(new State)
{
    state->slow = std::thread([this, port, slow] {
        std::vector<int> fds(std::size_t(slow), -1);
        while (!state->stopping) {
            for (int& fd : fds) {
                if (fd < 0) {
                    fd = connectFrom(port, "127.0.0.2");
                    if (fd >= 0 && !sendAll(fd, "POST /api/v1/classes/x/entries HTTP/1.1\r\nX-Slow: "))
                        ::close(fd), fd = -1;
                } else if (::send(fd, "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1) {
                    ::close(fd);
                    fd = -1;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        for (const int fd : fds)
            if (fd >= 0)
                ::close(fd);
    });
    state->flood = std::thread([this, port] {
        const std::string line = "X-Flood: " + std::string(8000, 'a') + "\r\n";
        while (!state->stopping) {
            const int fd = connectFrom(port, "127.0.0.3");
            if (fd < 0)
                continue;
            int lines = 0;
            bool sending = sendAll(fd, "GET / HTTP/1.1\r\n");
            while (sending && lines < 20000 && !state->stopping)
                sending = sendAll(fd, line), ++lines;
            ++(lines < 20000 ? state->cut : state->notCut);
            ::close(fd);
        }
    });
}

HostileDevices::~HostileDevices()
{
    state->stopping = true;
    state->slow.join();
    state->flood.join();
    delete state;
}

long HostileDevices::cutOff() const
{
    return state->cut;
}
long HostileDevices::notCutOff() const
{
    return state->notCut;
}

long residentMegabytes(long pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6) / 1024;
    return -1;
}

IdleFigures idleConnections(int port, long serverPid, int count)
{
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        const std::string from = "127.0.1." + std::to_string(1 + i / 500);
        const int fd = connectFrom(port, from.c_str());
        if (fd >= 0)
            fds.push_back(fd);
    }
    // The server takes what the kernel queued for it: wait until it has accepted them all
    // (its memory stops growing), for at most a second.
    IdleFigures f;
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        f.megabytes = std::max(f.megabytes, residentMegabytes(serverPid));
    }
    for (const int fd : fds) {
        pollfd p{fd, POLLIN, 0};
        f.open += ::poll(&p, 1, 0) == 0; // not readable: neither closed nor answered
        ::close(fd);
    }
    return f;
}

double pageLoads(int port, const std::string& page, const std::vector<std::string>& files, int pages, int connections)
{
    using Clock = std::chrono::steady_clock;
    std::latch ready(pages * connections + 1);
    std::atomic<bool> failed{false};
    std::vector<Clock::time_point> finished(std::size_t(pages * connections));
    std::vector<std::atomic<bool>> pageArrived(static_cast<std::size_t>(pages));
    Clock::time_point start;
    std::vector<std::thread> threads;
    for (int p = 0; p < pages; ++p)
        for (int c = 0; c < connections; ++c)
            threads.emplace_back([&, p, c] {
                Connection connection(port, "127.0.0.4");
                const auto get = [&](const std::string& path) {
                    std::string body;
                    if (connection.exchange("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", body) != 200)
                        failed = true;
                };
                ready.arrive_and_wait();
                if (c == 0) { // the page first; its files once it has come
                    get(page);
                    pageArrived[std::size_t(p)] = true;
                    pageArrived[std::size_t(p)].notify_all();
                } else
                    pageArrived[std::size_t(p)].wait(false);
                for (std::size_t f = std::size_t(c); f < files.size(); f += std::size_t(connections))
                    get(files[f]);
                finished[std::size_t(p * connections + c)] = Clock::now();
            });
    start = Clock::now();
    ready.arrive_and_wait();
    for (std::thread& t : threads)
        t.join();
    const Clock::time_point last = *std::max_element(finished.begin(), finished.end());
    return failed ? -1 : std::chrono::duration<double>(last - start).count();
}

} // namespace bench

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A forked copy of the test process that runs one piece of the program as a running copy of
// its own would: its own process id, its own locks, killed or limited without harm to the
// test. The test and the child talk over two pipes, one byte or one report at a time; every
// wait has a deadline, so a child that hangs fails the test instead of stopping it.
#include <QByteArray>

#include <chrono>
#include <cerrno>
#include <csignal>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

class ChildProcess {
public:
    // The child's side of the pipes.
    class Channel {
    public:
        // Tells the test something; false when the test is gone.
        bool send(char c) const { return ::write(out, &c, 1) == 1; }
        bool send(const QByteArray& bytes) const
        {
            for (qsizetype at = 0; at < bytes.size();) {
                const ssize_t n = ::write(out, bytes.constData() + at, size_t(bytes.size() - at));
                if (n <= 0)
                    return false;
                at += n;
            }
            return true;
        }
        // The test's next byte, waiting as long as it takes; 0 when the test closed its end.
        char receive() const
        {
            char c = 0;
            return ::read(in, &c, 1) == 1 ? c : 0;
        }

    private:
        friend class ChildProcess;
        int in = -1;
        int out = -1;
    };

    // Exit code of a child that could not become another user.
    static constexpr int cannotDropPrivileges = 97;
    // An account for the child: user, primary group and further groups.
    struct User {
        uid_t uid;
        gid_t gid;
        std::vector<gid_t> groups;
    };
    // Runs body in a forked child whose exit code is body's result. With asOtherUser, a child
    // of a test running as root first becomes the user and group 65534 ("nobody"), so that
    // file permissions bind it as they bind a pupil's account.
    explicit ChildProcess(std::function<int(const Channel&)> body, bool asOtherUser = false)
        : ChildProcess(std::move(body), asOtherUser ? std::optional<User>(User{65534, 65534, {}}) : std::nullopt)
    {
    }
    // The same as the given user (when the test runs as root).
    ChildProcess(std::function<int(const Channel&)> body, std::optional<User> user)
    {
        int toChild[2];
        int toTest[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0)
            return;
        if (::pipe2(toTest, O_CLOEXEC) != 0) {
            ::close(toChild[0]);
            ::close(toChild[1]);
            return;
        }
        pid = ::fork();
        if (pid == 0) {
            ::close(toChild[1]);
            ::close(toTest[0]);
            Channel channel;
            channel.in = toChild[0];
            channel.out = toTest[1];
            if (user && ::geteuid() == 0
                && (::setgroups(user->groups.size(), user->groups.data()) != 0 || ::setgid(user->gid) != 0
                    || ::setuid(user->uid) != 0))
                ::_exit(cannotDropPrivileges);
            ::_exit(body(channel));
        }
        ::close(toChild[0]);
        ::close(toTest[1]);
        if (pid < 0) {
            ::close(toChild[1]);
            ::close(toTest[0]);
            return;
        }
        in = toTest[0];
        out = toChild[1];
    }

    ~ChildProcess()
    {
        if (pid > 0 && !status) {
            ::kill(pid, SIGKILL);
            finish(std::chrono::seconds(10));
        }
        closeEnds();
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid > 0; }
    pid_t id() const { return pid; }

    // Tells the child something; false when the child is gone.
    bool send(char c) const { return out >= 0 && !status && ::write(out, &c, 1) == 1; }

    // The child's next byte, or nothing when it has ended or the wait is over.
    std::optional<char> receive(std::chrono::milliseconds wait) const
    {
        if (!readable(wait))
            return std::nullopt;
        char c = 0;
        if (::read(in, &c, 1) != 1)
            return std::nullopt;
        return c;
    }

    // Everything the child sends until it ends; false when it has not ended within the wait.
    bool receiveAll(QByteArray& bytes, std::chrono::milliseconds wait) const
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        char buffer[4096];
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() < 0 || !readable(left))
                return false;
            const ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n <= 0)
                return true;
            bytes.append(buffer, n);
        }
    }

    // Waits for the child's end (killing it when the wait is over) and returns the status
    // that waitpid gives.
    int finish(std::chrono::milliseconds wait)
    {
        if (status)
            return *status;
        if (pid <= 0)
            return -1;
        // The child's end of the pipe closes when it ends; only then can waitpid not block.
        QByteArray ignored;
        if (!receiveAll(ignored, wait))
            ::kill(pid, SIGKILL);
        int s = 0;
        while (::waitpid(pid, &s, 0) < 0 && errno == EINTR) {
        }
        status = s;
        return s;
    }

    void kill() const
    {
        if (pid > 0 && !status)
            ::kill(pid, SIGKILL);
    }

    // Readable descriptions of a status from finish().
    static bool exitedWith(int s, int code) { return WIFEXITED(s) && WEXITSTATUS(s) == code; }
    static bool killed(int s) { return WIFSIGNALED(s) && WTERMSIG(s) == SIGKILL; }

private:
    bool readable(std::chrono::milliseconds wait) const
    {
        if (in < 0)
            return false;
        pollfd p{in, POLLIN, 0};
        int r;
        while ((r = ::poll(&p, 1, int(wait.count()))) < 0 && errno == EINTR) {
        }
        return r > 0;
    }
    void closeEnds()
    {
        if (in >= 0)
            ::close(in);
        if (out >= 0)
            ::close(out);
        in = out = -1;
    }

    pid_t pid = -1;
    int in = -1;
    int out = -1;
    std::optional<int> status;
};

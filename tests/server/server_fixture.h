// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the class server's tests share besides the server itself (support/class_server.h): a
// PostgreSQL cluster of its own in a temporary folder, run as a plain user (nobody, when the
// test runs as root), and an HTTP client whose requests can say which pupil's address they
// come from.
#include "support/class_server.h"

#include <QDir>
#include <QTemporaryDir>

#include <httplib.h>

#include <string>

#include <unistd.h>

namespace serverfixture {

struct Answer {
    int status = 0; // 0: no answer at all
    std::string body;
};

// One request on a connection of its own; `from` is sent as X-Forwarded-For, which the server
// takes from a loopback peer. No answer within readTimeout seconds is none (status 0).
inline Answer request(int port, const std::string& method, const std::string& path, const std::string& body = {},
                      const std::string& from = {}, int readTimeout = 60)
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(10);
    client.set_read_timeout(readTimeout);
    httplib::Headers headers;
    if (!from.empty())
        headers.emplace("X-Forwarded-For", from);
    const httplib::Result r = method == "GET" ? client.Get(path, headers)
                                              : client.Post(path, headers, body, "application/json");
    return r ? Answer{r->status, r->body} : Answer{0, httplib::to_string(r.error())};
}

// A PostgreSQL 15 cluster in a temporary folder, listening on a socket in that folder only.
class PostgresCluster {
public:
    bool start()
    {
        if (!dir.isValid())
            return false;
        if (::geteuid() == 0 && ::chown(QFile::encodeName(dir.path()).constData(), 65534, 65534) != 0)
            return false;
        if (!QFile::exists(dir.filePath("data")) && !run("initdb", {"-D", dir.filePath("data"), "-A", "trust", "-U", "postgres", "--no-sync"}))
            return false;
        return up();
    }
    bool up()
    {
        return run("pg_ctl", {"-D", dir.filePath("data"), "-w", "-l", dir.filePath("log"), "-o",
                              "-c listen_addresses='' -k " + dir.path() + " -c fsync=off", "start"});
    }
    bool down() { return run("pg_ctl", {"-D", dir.filePath("data"), "-w", "-m", "fast", "stop"}); }
    ~PostgresCluster() { run("pg_ctl", {"-D", dir.filePath("data"), "-w", "-m", "immediate", "stop"}); }

    QString url() const { return "postgresql:///postgres?host=" + dir.path() + "&user=postgres"; }

private:
    // A PostgreSQL program, as nobody when the test runs as root (the server refuses root).
    bool run(const QString& tool, const QStringList& args)
    {
        const QString path = "/usr/lib/postgresql/15/bin/" + tool;
        QProcess p;
        p.setWorkingDirectory(dir.path());
        if (::geteuid() == 0)
            p.start("runuser", QStringList{"-u", "nobody", "--", path} + args);
        else
            p.start(path, args);
        return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QTemporaryDir dir{QDir::tempPath() + "/nubora1-pg-XXXXXX"};
};

} // namespace serverfixture

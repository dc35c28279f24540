// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the class server's tests share: the real nubora1-server started on a loopback port
// (killed and started again at will), a PostgreSQL cluster of its own in a temporary folder,
// run as a plain user (nobody, when the test runs as root), classes made with the server's own
// command line, and an HTTP client whose requests can say which pupil's address they come from.
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <httplib.h>

#include <memory>
#include <string>

#include <unistd.h>

namespace serverfixture {

inline const QString program = QStringLiteral(NUBORA_SERVER_PROGRAM);

struct Answer {
    int status = 0; // 0: no answer at all
    std::string body;
};

// One request on a connection of its own; `from` is sent as X-Forwarded-For, which the server
// takes from a loopback peer.
inline Answer request(int port, const std::string& method, const std::string& path, const std::string& body = {},
                      const std::string& from = {})
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(10);
    client.set_read_timeout(60);
    httplib::Headers headers;
    if (!from.empty())
        headers.emplace("X-Forwarded-For", from);
    const httplib::Result r = method == "GET" ? client.Get(path, headers)
                                              : client.Post(path, headers, body, "application/json");
    return r ? Answer{r->status, r->body} : Answer{0, httplib::to_string(r.error())};
}


// nubora1-server with the given store arguments; `serve` starts it and learns its port.
class ServerProcess {
public:
    ServerProcess(QStringList store, QString site = {}) : store(std::move(store)), site(std::move(site)) {}
    ~ServerProcess() { kill(); }

    bool start()
    {
        process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args = QStringList{"serve", "--listen", "127.0.0.1:0"} + store;
        if (!site.isEmpty())
            args << "--site" << site;
        process->start(program, args);
        QByteArray out;
        while (process->waitForReadyRead(30000)) {
            out += process->readAllStandardOutput();
            const QRegularExpressionMatch m = QRegularExpression("listening on http://127.0.0.1:(\\d+)/").match(out);
            if (m.hasMatch()) {
                port = m.captured(1).toInt();
                return true;
            }
        }
        return false;
    }
    void kill()
    {
        if (process) {
            process->kill(); // SIGKILL
            process->waitForFinished(30000);
            process.reset();
        }
    }

    int port = 0;

private:
    QStringList store;
    QString site;
    std::unique_ptr<QProcess> process;
};

// nubora1-server's command line; its standard output, or nothing when it fails.
inline std::optional<QString> command(const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(p.readAllStandardOutput());
}

struct ClassKeys {
    std::string pupils, teacher;
};

// A new class, by `class add`; empty keys when it fails or prints no links.
inline ClassKeys addClass(const QStringList& store, const QString& name)
{
    const std::optional<QString> out = command(QStringList{"class", "add", name, "--url", "http://school.test/"} + store);
    if (!out)
        return {};
    const QRegularExpressionMatch c = QRegularExpression("^生徒のリンク: http://school.test/c/([A-Za-z0-9_-]{22})/$", QRegularExpression::MultilineOption).match(*out);
    const QRegularExpressionMatch t = QRegularExpression("^先生のリンク: http://school.test/t/([A-Za-z0-9_-]{22})/$", QRegularExpression::MultilineOption).match(*out);
    if (!c.hasMatch() || !t.hasMatch() || !out->contains(QStringLiteral("█")))
        return {};
    return {c.captured(1).toStdString(), t.captured(1).toStdString()};
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

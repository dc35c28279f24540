// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The real class server, nubora1-server (the program NUBORA_SERVER names), for the server's
// own tests and the windows' on a class link: the server started on a loopback port (killed and
// started again at will) and classes made with its own command line.
#include "classlink/class_client.h"
#include "classlink/class_ranking.h"
#include "rules/ticket.h"
#include "support/played_game.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <memory>
#include <optional>
#include <string>

namespace serverfixture {

inline QString program()
{
    return qEnvironmentVariable("NUBORA_SERVER");
}

// nubora1-server with the given store arguments; `start` starts it and learns its port.
class ServerProcess {
public:
    ServerProcess(QStringList store, QString site = {}) : store(std::move(store)), site(std::move(site)) {}
    ~ServerProcess() { kill(); }

    bool start()
    {
        process = std::make_unique<QProcess>();
        process->setProcessChannelMode(errorLog.isEmpty() ? QProcess::ForwardedErrorChannel
                                                          : QProcess::SeparateChannels);
        if (!errorLog.isEmpty())
            process->setStandardErrorFile(errorLog);
        QStringList args = QStringList{"serve", "--listen", "127.0.0.1:0"} + store;
        if (!site.isEmpty())
            args << "--site" << site;
        process->start(program(), args);
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
    qint64 processId() const { return process ? process->processId() : 0; }

    int port = 0;
    QString errorLog; // where the server's stderr goes; the test's own stderr when empty

private:
    QStringList store;
    QString site;
    std::unique_ptr<QProcess> process;
};

// nubora1-server's command line; its standard output, or nothing when it fails.
inline std::optional<QString> command(const QStringList& args)
{
    QProcess p;
    p.start(program(), args);
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
    const std::optional<QString> out =
        command(QStringList{"class", "add", name, "--url", "http://school.test/"} + store);
    if (!out)
        return {};
    const QRegularExpressionMatch c = QRegularExpression("^生徒のリンク: http://school.test/c/([A-Za-z0-9_-]{22})/$",
                                                         QRegularExpression::MultilineOption)
                                          .match(*out);
    const QRegularExpressionMatch t = QRegularExpression("^先生のリンク: http://school.test/t/([A-Za-z0-9_-]{22})/$",
                                                         QRegularExpression::MultilineOption)
                                          .match(*out);
    if (!c.hasMatch() || !t.hasMatch() || !out->contains(QStringLiteral("█")))
        return {};
    return {c.captured(1).toStdString(), t.captured(1).toStdString()};
}

// A game played fair on a ticket fetched from the class's API address `api`
// (…/api/v1/classes/KEY): what a results window sends with an entry of `score` in `range`.
inline classlink::PlayedGame playedOn(const QString& api, int range, int score)
{
    const QJsonObject got = classlink::request(QUrl(api + "/tickets"), QJsonObject{}, std::chrono::seconds(10)).body;
    const QString text = got.value("tickets").toArray().first().toString();
    const std::optional<ticket::Ticket> t = ticket::parse(text.toStdString());
    const std::uint32_t seed = t ? t->seed : 0;
    return {seed, playedgame::logScoring(seed, range, score), text};
}

} // namespace serverfixture

// One class of its own in a data folder of the test's, served; stopped and started again at
// will (each time on a new port).
class ClassServer {
public:
    // Whether NUBORA_SERVER names the program.
    bool available() const { return !serverfixture::program().isEmpty(); }

    // Makes the class in data and serves it.
    bool start(const QString& data)
    {
        server = std::make_unique<serverfixture::ServerProcess>(QStringList{"--data", data});
        const serverfixture::ClassKeys keys = serverfixture::addClass({"--data", data}, "３年２組");
        key = QString::fromStdString(keys.pupils);
        teacher = QString::fromStdString(keys.teacher);
        return !key.isEmpty() && start();
    }
    bool start() { return server->start(); }
    void stop() { server->kill(); }
    qint64 processId() const { return server->processId(); }

    // The pupils' link of a class on this server, as tavon.class holds it.
    QByteArray link(const QString& classKey = {}) const
    {
        return (base() + "c/" + (classKey.isEmpty() ? key : classKey) + "/\n").toUtf8();
    }
    QJsonObject get(const QString& path) const
    {
        return classlink::request(QUrl(base() + path), std::nullopt, std::chrono::seconds(10)).body;
    }
    // What the teacher's page shows: the entries ("entries", with their ids) and the lists before each 初期化
    // ("history").
    QJsonObject teachers() const { return get("api/v1/teachers/" + teacher); }
    // The entries as "name range score", oldest first.
    QStringList entries() const
    {
        QStringList rows;
        for (const QJsonValue& each : teachers().value("entries").toArray())
            rows << each["name"].toString() + ' ' + QString::number(each["range"].toInt()) + ' '
                        + QString::number(each["score"].toInt());
        return rows;
    }

    // A game played fair on a ticket of the class: what a results window sends with an entry
    // of `score` in `range`.
    classlink::PlayedGame played(int range, int score) const
    {
        return serverfixture::playedOn(base() + "api/v1/classes/" + key, range, score);
    }

    QString key, teacher;

private:
    QString base() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server->port); }

    std::unique_ptr<serverfixture::ServerProcess> server;
};

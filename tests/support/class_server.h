// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classlink/class_client.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

// The real class server, nubora1-server (the program NUBORA_SERVER names), with one class of
// its own in a data folder of the test's, serving on a loopback port; stopped and started again
// at will (each time on a new port).
class ClassServer {
public:
    ~ClassServer() { stop(); }

    // Whether NUBORA_SERVER names the program.
    bool available() const { return !program.isEmpty(); }

    // Makes the class in data and serves it.
    bool start(const QString& data)
    {
        folder = data;
        QProcess add;
        add.start(program, {"class", "add", "３年２組", "--data", folder, "--url", "http://127.0.0.1/"});
        if (!add.waitForFinished(60000) || add.exitCode() != 0)
            return false;
        const QString printed = QString::fromUtf8(add.readAllStandardOutput());
        key = QRegularExpression("/c/([A-Za-z0-9_-]+)/").match(printed).captured(1);
        teacher = QRegularExpression("/t/([A-Za-z0-9_-]+)/").match(printed).captured(1);
        return !key.isEmpty() && !teacher.isEmpty() && start();
    }
    bool start()
    {
        serve.start(program, {"serve", "--data", folder, "--listen", "127.0.0.1:0"});
        QByteArray out;
        return QTest::qWaitFor([&] {
            out += serve.readAllStandardOutput();
            base = QRegularExpression("listening on (http://127.0.0.1:\\d+/)").match(QString::fromLatin1(out)).captured(1);
            return !base.isEmpty();
        }, 30000);
    }
    void stop()
    {
        serve.kill();
        serve.waitForFinished();
    }

    // The pupils' link of a class on this server, as tavon.class holds it.
    QByteArray link(const QString& classKey = {}) const { return (base + "c/" + (classKey.isEmpty() ? key : classKey) + "/\n").toUtf8(); }
    QJsonObject get(const QString& path) const { return classlink::request(QUrl(base + path), std::nullopt, std::chrono::seconds(10)).body; }
    // What the teacher's page shows: the entries ("entries", with their ids) and the lists before each 初期化 ("history").
    QJsonObject teachers() const { return get("api/v1/teachers/" + teacher); }
    // The entries as "name range score", oldest first.
    QStringList entries() const
    {
        QStringList rows;
        for (const QJsonValue& each : teachers().value("entries").toArray())
            rows << each["name"].toString() + ' ' + QString::number(each["range"].toInt()) + ' ' + QString::number(each["score"].toInt());
        return rows;
    }

    QString key, teacher, base;
    QProcess serve;

private:
    QString program = qEnvironmentVariable("NUBORA_SERVER");
    QString folder;
};

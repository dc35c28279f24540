// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTcpServer>

// A class server on a loopback port as the results window meets it: every request of the API
// gets a fixed answer with the image the test gives, and is recorded. It applies no Save of
// its own: a test sets the image the server answers after an entry.
class ClassServer : public QObject {
public:
    // The key of the class in every link of these tests.
    static inline const QString key = QStringLiteral("Class3-2_pupilsKey");

    ClassServer();
    bool isListening() const { return server.isListening(); }
    // The pupils' link, BASE/c/{key}/, as tavon.class holds it.
    QByteArray pupilsLink() const;
    // A link to a port where nothing listens.
    static QByteArray deadLink();

    QByteArray image;   // the class's tavon.rnk in every answer
    int status = 200;   // another status answers {"error": ...}
    bool silent = false; // takes connections and reads requests, and never answers

    struct Request {
        QByteArray method;
        QByteArray path; // below the base, e.g. "api/v1/classes/{key}/entries"
        QJsonObject body;
    };
    QList<Request> requests;
    // How many entries carried this id.
    int entriesWithId(const QString& id) const;

private:
    void answer(QTcpSocket* socket);

    QTcpServer server;
    QHash<QTcpSocket*, QByteArray> received;
};

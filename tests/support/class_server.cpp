// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/class_server.h"

#include <QJsonDocument>
#include <QTcpSocket>

ClassServer::ClassServer()
{
    server.listen(QHostAddress::LocalHost);
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        }
    });
}

QByteArray ClassServer::pupilsLink() const
{
    return "http://127.0.0.1:" + QByteArray::number(server.serverPort()) + "/c/" + key.toLatin1() + "/\n";
}

QByteArray ClassServer::deadLink()
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const quint16 port = closed.serverPort();
    closed.close();
    return "http://127.0.0.1:" + QByteArray::number(port) + "/c/" + key.toLatin1() + "/\n";
}

int ClassServer::entriesWithId(const QString& id) const
{
    return int(std::count_if(requests.begin(), requests.end(), [&id](const Request& r) {
        return r.path.endsWith("/entries") && r.body.value(QLatin1String("id")).toString() == id;
    }));
}

void ClassServer::answer(QTcpSocket* socket)
{
    QByteArray& bytes = received[socket];
    bytes += socket->readAll();
    const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> lines = bytes.left(headEnd).split('\n');
    qsizetype length = 0;
    for (const QByteArray& line : lines)
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toLongLong();
    if (bytes.size() < headEnd + 4 + length)
        return;
    const QList<QByteArray> first = lines.value(0).split(' ');
    Request request{first.value(0), first.value(1).mid(1), QJsonDocument::fromJson(bytes.mid(headEnd + 4, length)).object()};
    requests.append(request);
    received.remove(socket);
    if (silent)
        return;
    QJsonObject json{{QStringLiteral("image"), QString::fromLatin1(image.toBase64())}};
    if (status != 200)
        json = {{QStringLiteral("error"), QStringLiteral("refused")}};
    else if (request.path.endsWith("/entries"))
        json.insert(QStringLiteral("saved"), true);
    else if (request.method == "GET")
        json.insert(QStringLiteral("name"), QStringLiteral("３年２組"));
    const QByteArray body = QJsonDocument(json).toJson(QJsonDocument::Compact);
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: application/json\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

// What may stand in for the class server, or before it (a proxy, a captive portal): a loopback
// server that answers every request with one status and body, and keeps each request's head.
class CannedServer {
public:
    CannedServer(int status, QByteArray type, QByteArray body)
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this, status, type, body] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, status, type, body] {
                    const QByteArray got = socket->property("got").toByteArray() + socket->readAll();
                    socket->setProperty("got", got);
                    const qsizetype end = got.indexOf("\r\n\r\n");
                    const QRegularExpressionMatch length =
                        QRegularExpression("(?i)\r\ncontent-length: *(\\d+)").match(QString::fromLatin1(got.left(end)));
                    if (end < 0 || got.size() < end + 4 + (length.hasMatch() ? length.captured(1).toInt() : 0))
                        return;
                    heads << QString::fromLatin1(got.left(end));
                    socket->write("HTTP/1.1 " + QByteArray::number(status) + " Canned\r\nContent-Type: " + type
                                  + "\r\nContent-Length: " + QByteArray::number(body.size())
                                  + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    // The pupils' link of a class on it.
    QByteArray link() const
    {
        return "http://127.0.0.1:" + QByteArray::number(server.serverPort()) + "/c/Canned_class_key_00000/\n";
    }

    QStringList heads; // each request's line and headers, as sent

private:
    QTcpServer server;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "classlink/class_client.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace classlink {

namespace {

// The longest answer read: the class's image and its name take a few kilobytes.
constexpr qint64 answerBytes = 64 * 1024;

} // namespace

Answer request(const QUrl& url, const std::optional<QJsonObject>& body, std::chrono::milliseconds wait,
               const QString& device)
{
    QNetworkAccessManager network;
    QNetworkRequest asked(url);
    asked.setTransferTimeout(int(wait.count()));
    asked.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    asked.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("nubora1"));
    if (!device.isEmpty())
        asked.setRawHeader(deviceHeader, device.toLatin1());
    std::unique_ptr<QNetworkReply> reply;
    if (body) {
        asked.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        reply.reset(network.post(asked, QJsonDocument(*body).toJson(QJsonDocument::Compact)));
    } else {
        reply.reset(network.get(asked));
    }

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply.get(), &QNetworkReply::abort);
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(), [&reply](qint64 received, qint64) {
        if (received > answerBytes)
            reply->abort();
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(wait);
    if (!reply->isFinished())
        loop.exec();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QJsonParseError error{};
    const QJsonDocument json =
        QJsonDocument::fromJson(reply->isOpen() ? reply->read(answerBytes) : QByteArray(), &error);
    const bool isObject = error.error == QJsonParseError::NoError && json.isObject();
    using classqueue::Body;
    const Body kind = status == 0                                              ? Body::none
                      : !isObject                                              ? Body::other
                      : json.object().value(QLatin1String("error")).isString() ? Body::serverError
                                                                               : Body::serverJson;
    Answer answer{classqueue::fateOf(status, kind), status, isObject ? json.object() : QJsonObject()};
    // A reply cut short (aborted at the deadline or past the longest answer) is no answer.
    if (answer.stored() && reply->error() != QNetworkReply::NoError)
        answer.fate = classqueue::Fate::waiting;
    return answer;
}

} // namespace classlink

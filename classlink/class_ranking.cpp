// SPDX-License-Identifier: GPL-3.0-or-later
#include "classlink/class_ranking.h"

#include "classlink/class_client.h"
#include "rules/ticket.h"
#include "storage/ranking_place.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonValue>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>

#include <array>
#include <optional>

namespace classlink {

namespace {

// An id the server knows an entry or a clearing by: 128 random bits in base64url.
QString newId()
{
    std::array<quint32, 4> bits{};
    QRandomGenerator::system()->fillRange(bits.data(), bits.size());
    const QByteArray bytes(reinterpret_cast<const char*>(bits.data()), sizeof bits);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// The class's image in an answer, where it holds one.
std::optional<QByteArray> imageOf(const QJsonObject& answer)
{
    const QJsonValue image = answer.value(QLatin1String("image"));
    if (!image.isString())
        return std::nullopt;
    const auto decoded =
        QByteArray::fromBase64Encoding(image.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? std::optional(*decoded) : std::nullopt;
}

} // namespace

QString deviceId(const QString& dataDirectory)
{
    const QString path = QDir(dataDirectory).filePath(QStringLiteral("classes/device.id"));
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9_-]{8,64}$"));
    QFile kept(path);
    if (kept.open(QIODevice::ReadOnly)) {
        const QString id = QString::fromLatin1(kept.read(64).trimmed());
        if (valid.match(id).hasMatch())
            return id;
    }
    const QString id = newId();
    QSaveFile file(path);
    if (QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly)
        && file.write(id.toLatin1()) > 0)
        file.commit();
    return id;
}

ClassRanking::ClassRanking(ClassLink link, const QString& dataDirectory, ClassOptions options,
                           storage::RankingOptions ownFile)
    : classLink(std::move(link)), opts(options), own(std::move(ownFile)),
      entries(QDir(dataDirectory).filePath(QStringLiteral("classes/") + classLink.key + QStringLiteral(".outbox"))),
      tickets(QDir(dataDirectory).filePath(QStringLiteral("classes/") + classLink.key + QStringLiteral(".tickets"))),
      copy(QDir(dataDirectory).filePath(QStringLiteral("classes/") + classLink.key + QStringLiteral(".rnk"))),
      device(deviceId(dataDirectory))
{
}

Answer ClassRanking::send(const QString& tail, const QJsonObject& body)
{
    return request(classLink.api(tail), body, opts.wait, device);
}

void ClassRanking::read(results::BestFiveLists& lists)
{
    std::optional<QByteArray> image;
    if (classLink.isValid() && sendOutbox()) {
        const Answer answer = request(classLink.api(), std::nullopt, opts.wait, device);
        if (answer.stored() && (image = imageOf(answer.body))) {
            keep(answer.body);
            stockTickets();
        }
    }
    if (!image && classLink.isValid()) {
        QFile kept(copy);
        image = kept.open(QIODevice::ReadOnly) ? kept.read(qint64(results::savedBytes)) : QByteArray();
    }
    const QByteArray bytes = image.value_or(QByteArray());
    results::readLists({bytes.constData(), std::size_t(bytes.size())}, lists);
}

Sent ClassRanking::save(const results::NewEntry& entry, const std::optional<PlayedGame>& played)
{
    if (!classLink.isValid())
        return {};
    QJsonObject body{{QStringLiteral("id"), newId()},
                     {QStringLiteral("range"), entry.hani},
                     {QStringLiteral("score"), entry.tensu},
                     {QStringLiteral("name"), QString::fromStdU16String(entry.name)}};
    if (played) {
        if (!played->ticket.isEmpty())
            body.insert(QStringLiteral("ticket"), played->ticket);
        body.insert(QStringLiteral("log"), QString::fromStdString(played->log));
    }
    const QString id = body.value(QLatin1String("id")).toString();
    Sent sent;
    if (entries.add(body)) {
        sent.kept = true; // waiting in the outbox, until the server answers for it
        sendOutbox(id, &sent);
    } else if (sendOutbox()) {
        // No outbox can be kept: sent once, now or never.
        const Answer answer = send(QStringLiteral("/entries"), body);
        sent = {answer.fate, answer.status, false};
        if (answer.stored())
            keep(answer.body);
        else if (answer.fate == classqueue::Fate::refused)
            sent.kept = keepOwn(body);
    }
    return sent;
}

bool ClassRanking::queueGame(const PlayedGame& played)
{
    QJsonObject game{{QStringLiteral("log"), QString::fromStdString(played.log)}};
    if (!played.ticket.isEmpty())
        game.insert(QStringLiteral("ticket"), played.ticket);
    return classLink.isValid() && entries.add({{QStringLiteral("id"), newId()}, {QStringLiteral("game"), game}});
}

bool ClassRanking::stockTickets()
{
    if (!classLink.isValid() || tickets.entries().size() >= ticketsLow)
        return false;
    const Answer answer = send(QStringLiteral("/tickets"), QJsonObject{});
    QList<QJsonObject> got;
    for (const QJsonValue each : answer.body.value(QLatin1String("tickets")).toArray())
        if (each.isString() && ticket::parse(each.toString().toStdString()))
            got.append(QJsonObject{{QStringLiteral("id"), each.toString()}});
    return answer.stored() && !got.isEmpty() && tickets.add(got);
}

std::optional<QString> ClassRanking::takeTicket()
{
    const std::optional<QJsonObject> taken = tickets.takeFirst();
    return taken ? std::optional(taken->value(QLatin1String("id")).toString()) : std::nullopt;
}

Sent ClassRanking::blank()
{
    if (!classLink.isValid())
        return {};
    const Answer answer = send(QStringLiteral("/blank"), QJsonObject{{QStringLiteral("id"), newId()}});
    if (answer.stored() && !imageOf(answer.body))
        return {};
    if (answer.stored()) {
        keep(answer.body);
        sendOutbox(); // the server answers again: what waits goes now
    }
    return {answer.fate, answer.status, false};
}

bool ClassRanking::sendOutbox(const QString& watched, Sent* watchedSent)
{
    for (const QJsonObject& body : entries.entries()) {
        const QString id = body.value(QLatin1String("id")).toString();
        const bool alone = body.value(QLatin1String("game")).isObject(); // a game in no list
        const Answer answer = alone ? send(QStringLiteral("/games"), body.value(QLatin1String("game")).toObject())
                                    : send(QStringLiteral("/entries"), body);
        if (answer.fate == classqueue::Fate::waiting)
            return false;
        // Stored, or refused for good: either way never sent again.
        const bool kept = answer.fate == classqueue::Fate::refused && !alone && keepOwn(body);
        entries.remove(id);
        if (answer.stored())
            keep(answer.body);
        if (watchedSent && id == watched)
            *watchedSent = {answer.fate, answer.status, kept};
    }
    return true;
}

bool ClassRanking::keepOwn(const QJsonObject& body)
{
    storage::RankingFile file(own);
    results::BestFiveLists lists;
    file.read(lists);
    const results::NewEntry entry{std::int16_t(body.value(QLatin1String("range")).toInt()),
                                  std::int16_t(body.value(QLatin1String("score")).toInt()),
                                  body.value(QLatin1String("name")).toString().toStdU16String()};
    return bool(file.save(entry));
}

void ClassRanking::keep(const QJsonObject& answer)
{
    const std::optional<QByteArray> image = imageOf(answer);
    if (!image || !QDir().mkpath(QFileInfo(copy).absolutePath()))
        return;
    QSaveFile file(copy);
    if (file.open(QIODevice::WriteOnly) && file.write(*image) == image->size())
        file.commit();
}

std::unique_ptr<ClassRanking> classRanking(const storage::RankingOptions& options, const ClassOptions& classOptions)
{
    std::optional<ClassLink> link = findClassLink(options.programDirectory);
    if (!link)
        return nullptr;
    const QString data =
        options.fallbackDirectory.isEmpty() ? storage::playerDataDirectory() : options.fallbackDirectory;
    return std::make_unique<ClassRanking>(std::move(*link), data, classOptions, options);
}

} // namespace classlink

// SPDX-License-Identifier: GPL-3.0-or-later
#include "classlink/class_ranking.h"

#include "classlink/class_client.h"
#include "storage/ranking_place.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonValue>
#include <QRandomGenerator>
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
    const auto decoded = QByteArray::fromBase64Encoding(image.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? std::optional(*decoded) : std::nullopt;
}

} // namespace

ClassRanking::ClassRanking(ClassLink link, const QString& dataDirectory, ClassOptions options)
    : classLink(std::move(link)),
      opts(options),
      entries(QDir(dataDirectory).filePath(QStringLiteral("classes/") + classLink.key + QStringLiteral(".outbox"))),
      copy(QDir(dataDirectory).filePath(QStringLiteral("classes/") + classLink.key + QStringLiteral(".rnk")))
{
}

void ClassRanking::read(results::BestFiveLists& lists)
{
    std::optional<QByteArray> image;
    if (classLink.isValid() && sendOutbox()) {
        const Answer answer = request(classLink.api(), std::nullopt, opts.wait);
        if (answer.kind == Answer::Answered && (image = imageOf(answer.body)))
            keep(answer.body);
    }
    if (!image && classLink.isValid()) {
        QFile kept(copy);
        image = kept.open(QIODevice::ReadOnly) ? kept.read(qint64(results::savedBytes)) : QByteArray();
    }
    const QByteArray bytes = image.value_or(QByteArray());
    results::readLists({bytes.constData(), std::size_t(bytes.size())}, lists);
}

storage::SaveResult ClassRanking::save(const results::NewEntry& entry, const std::optional<PlayedGame>& played)
{
    if (!classLink.isValid())
        return storage::SaveResult::NotWritable;
    QJsonObject body{{QStringLiteral("id"), newId()},
                     {QStringLiteral("range"), entry.hani},
                     {QStringLiteral("score"), entry.tensu},
                     {QStringLiteral("name"), QString::fromStdU16String(entry.name)}};
    if (played) {
        body.insert(QStringLiteral("seed"), qint64(played->seed));
        body.insert(QStringLiteral("log"), QString::fromStdString(played->log));
    }
    const QString id = body.value(QLatin1String("id")).toString();
    QList<QString> saved;
    if (entries.add(body)) {
        sendOutbox(&saved);
    } else if (sendOutbox()) {
        // No outbox can be kept: sent once, now or never.
        const Answer answer = request(classLink.api(QStringLiteral("/entries")), body, opts.wait);
        if (answer.kind == Answer::Answered && answer.body.value(QLatin1String("saved")).toBool()) {
            saved.append(id);
            keep(answer.body);
        }
    }
    return saved.contains(id) ? storage::SaveResult::Saved : storage::SaveResult::WriteFailed;
}

storage::SaveResult ClassRanking::blank()
{
    if (!classLink.isValid())
        return storage::SaveResult::NotWritable;
    const Answer answer = request(classLink.api(QStringLiteral("/blank")), QJsonObject{{QStringLiteral("id"), newId()}}, opts.wait);
    if (answer.kind != Answer::Answered || !imageOf(answer.body))
        return storage::SaveResult::WriteFailed;
    keep(answer.body);
    return storage::SaveResult::Saved;
}

bool ClassRanking::sendOutbox(QList<QString>* saved)
{
    for (const QJsonObject& body : entries.entries()) {
        const QString id = body.value(QLatin1String("id")).toString();
        const Answer answer = request(classLink.api(QStringLiteral("/entries")), body, opts.wait);
        if (answer.kind == Answer::Unreachable || (answer.kind == Answer::Answered && !answer.body.value(QLatin1String("saved")).toBool()))
            return false;
        // Stored, or refused for good: either way never sent again.
        entries.remove(id);
        if (answer.kind == Answer::Answered) {
            keep(answer.body);
            if (saved)
                saved->append(id);
        }
    }
    return true;
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
    const QString data = options.fallbackDirectory.isEmpty() ? storage::playerDataDirectory() : options.fallbackDirectory;
    return std::make_unique<ClassRanking>(std::move(*link), data, classOptions);
}

} // namespace classlink

// SPDX-License-Identifier: GPL-3.0-or-later
#include "classlink/outbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>

#include <functional>

namespace classlink {

namespace {

QList<QJsonObject> readEntries(const QString& path)
{
    QFile file(path);
    QList<QJsonObject> entries;
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QJsonValue& each : QJsonDocument::fromJson(file.readAll()).array())
        if (each.isObject())
            entries.append(each.toObject());
    return entries;
}

// Reads, changes and writes the list under the lock.
bool change(const QString& path, const std::function<void(QList<QJsonObject>&)>& edit)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(5000))
        return false;
    QList<QJsonObject> entries = readEntries(path);
    edit(entries);
    QJsonArray array;
    for (const QJsonObject& each : entries)
        array.append(each);
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(array).toJson()) >= 0 && file.commit();
}

} // namespace

QList<QJsonObject> Outbox::entries() const
{
    return readEntries(filePath);
}

bool Outbox::add(const QJsonObject& body)
{
    return change(filePath, [&body](QList<QJsonObject>& entries) { entries.append(body); });
}

bool Outbox::add(const QList<QJsonObject>& bodies)
{
    return change(filePath, [&bodies](QList<QJsonObject>& entries) { entries.append(bodies); });
}

std::optional<QJsonObject> Outbox::takeFirst()
{
    std::optional<QJsonObject> first;
    const bool written = change(filePath, [&first](QList<QJsonObject>& entries) {
        if (!entries.isEmpty())
            first = entries.takeFirst();
    });
    return written ? first : std::nullopt;
}

void Outbox::remove(const QString& id)
{
    change(filePath, [&id](QList<QJsonObject>& entries) {
        entries.removeIf([&id](const QJsonObject& each) { return each.value(QLatin1String("id")).toString() == id; });
    });
}

} // namespace classlink

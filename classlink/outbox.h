// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The entries of one class that the server has not confirmed yet, kept in a file of the
// player's own until they are sent: each as the body of its request, with the id that makes
// the server store it once however often it is sent. In the order they were made. Each change
// is made under a lock file (two copies of the program on one account) and replaces the file
// whole, so that a crash leaves the old list or the new one.
namespace classlink {

class Outbox {
public:
    explicit Outbox(QString path) : filePath(std::move(path)) {}

    // The entries waiting, oldest first; none where the file is missing or unreadable.
    QList<QJsonObject> entries() const;
    // Adds one at the end (or several); false where the file cannot be written.
    bool add(const QJsonObject& body);
    bool add(const QList<QJsonObject>& bodies);
    // Takes away the oldest and gives it, under the lock (of two copies of the program, each
    // takes another); none where there is none or the file cannot be written.
    std::optional<QJsonObject> takeFirst();
    // Takes away the entry with this id, sent or refused for good.
    void remove(const QString& id);

    QString path() const { return filePath; }

private:
    QString filePath;
};

} // namespace classlink

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <string>

// The game library's UTF-16 text and byte strings as the tests' Qt types hold them, and back.
inline QString qs(const std::u16string& text)
{
    return QString::fromStdU16String(text);
}
inline std::u16string u16(const QString& text)
{
    return text.toStdU16String();
}
inline QByteArray qb(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes);
}
inline std::string sb(const QByteArray& bytes)
{
    return bytes.toStdString();
}
inline QStringList qsList(const std::u16string* first, const std::u16string* last)
{
    QStringList list;
    for (; first != last; ++first)
        list << qs(*first);
    return list;
}

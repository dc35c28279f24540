// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <string>

// The game library's text (UTF-16) and bytes as Qt holds them, and back: plain copies.
namespace ui {

inline QString qtext(const std::u16string& text)
{
    return QString::fromStdU16String(text);
}
inline std::u16string u16(const QString& text)
{
    return text.toStdU16String();
}
inline QByteArray qbytes(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes);
}
inline std::string bytes(const QByteArray& bytes)
{
    return bytes.toStdString();
}

} // namespace ui

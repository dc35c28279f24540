// SPDX-License-Identifier: GPL-3.0-or-later
#include "classlink/class_link.h"

#include "rules/class_key.h"

#include "storage/file_io.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace classlink {

namespace {

// More than any link needs: a file that is not a link is not read to its end.
constexpr qsizetype linkFileBytes = 4096;

} // namespace

QUrl ClassLink::api(const QString& tail) const
{
    return base.resolved(QUrl(QStringLiteral("api/v1/classes/") + key + tail));
}

ClassLink parseClassLink(QByteArrayView text)
{
    static const QRegularExpression first(QStringLiteral("https?://\\S+"));
    const QUrl url(first.match(QString::fromUtf8(text)).captured(), QUrl::StrictMode);
    static const QRegularExpression pupils(QStringLiteral("^(.*/)c/([^/]*)/?$"));
    const QRegularExpressionMatch match = pupils.match(url.path());
    if (!url.isValid() || url.host().isEmpty() || url.hasQuery() || url.hasFragment() || !match.hasMatch()
        || !classkey::isClassKey(match.captured(2).toStdString()))
        return {};
    QUrl base = url;
    base.setPath(match.captured(1));
    return {base, match.captured(2)};
}

std::optional<ClassLink> findClassLink(const QString& directory)
{
    using namespace storage::fileio;
    const QString folder = directory.isEmpty() ? QCoreApplication::applicationDirPath() : directory;
    // Non-blocking: a pipe in its place must not hold the window.
    const Descriptor file(openPath(QDir(folder).filePath(classLinkFileName), O_RDONLY | O_NONBLOCK));
    if (!file)
        return errno == ENOENT || errno == ENOTDIR ? std::nullopt : std::optional(ClassLink{});
    struct stat st {};
    QByteArray text;
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || !readAt(file.get(), 0, linkFileBytes, text))
        return ClassLink{};
    return parseClassLink(text);
}

} // namespace classlink

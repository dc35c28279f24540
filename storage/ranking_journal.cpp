// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/ranking_journal.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace storage::journal {

using namespace fileio;

namespace {

// The most of a journal that is read back: two heads of 75 records and a little more.
constexpr qsizetype journalLimit = 4096;
const QByteArray magic = QByteArrayLiteral("nubora1 journal\n");

quint64 fingerprint(QByteArrayView bytes)
{
    quint64 h = 14695981039346656037ULL; // FNV-1a
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

template <typename T>
void appendLittleEndian(QByteArray& bytes, T value)
{
    char raw[sizeof(T)];
    qToLittleEndian(value, raw);
    bytes.append(raw, sizeof(T));
}

// Whether the account uid is a member of group gid, by this machine's user database.
bool inGroup(uid_t uid, gid_t gid)
{
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return false;
    if (found->pw_gid == gid)
        return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(size_t(count));
    for (const gid_t g : groups)
        if (g == gid)
            return true;
    return false;
}

} // namespace

QByteArray encode(const Journal& j)
{
    QByteArray body;
    appendLittleEndian<qint64>(body, j.oldSize);
    appendLittleEndian<quint32>(body, quint32(j.oldHead.size()));
    appendLittleEndian<quint32>(body, quint32(j.newHead.size()));
    body += j.oldHead + j.newHead;
    QByteArray bytes = magic + body;
    appendLittleEndian<quint64>(bytes, fingerprint(body));
    return bytes;
}

std::optional<Journal> decode(QByteArrayView bytes)
{
    constexpr qsizetype fixed = 8 + 4 + 4;
    if (!bytes.startsWith(magic) || bytes.size() < magic.size() + fixed + 8)
        return std::nullopt;
    const QByteArrayView body = bytes.sliced(magic.size(), bytes.size() - magic.size() - 8);
    if (qFromLittleEndian<quint64>(bytes.constData() + bytes.size() - 8) != fingerprint(body))
        return std::nullopt;
    Journal j;
    j.oldSize = qFromLittleEndian<qint64>(body.data());
    const auto oldLength = qFromLittleEndian<quint32>(body.data() + 8);
    const auto newLength = qFromLittleEndian<quint32>(body.data() + 12);
    if (qsizetype(oldLength) + qsizetype(newLength) != body.size() - fixed || oldLength > newLength)
        return std::nullopt;
    j.oldHead = body.sliced(fixed, oldLength).toByteArray();
    j.newHead = body.sliced(fixed + oldLength, newLength).toByteArray();
    return j;
}

State stateOf(const Journal& j, QByteArrayView head)
{
    bool allNew = head.size() == j.newHead.size();
    bool allOld = head.size() == j.oldHead.size();
    for (qsizetype k = 0; k < j.newHead.size(); ++k) {
        const bool has = k < head.size();
        const bool isNew = has && head[k] == j.newHead[k];
        const bool isOld = k < j.oldHead.size() ? has && head[k] == j.oldHead[k] : !has;
        if (!isNew && !isOld)
            return State::Unrelated;
        allNew = allNew && isNew;
        allOld = allOld && isOld;
    }
    return allNew ? State::Completed : allOld ? State::NotWritten : State::HalfWritten;
}

bool couldWrite(uid_t uid, const struct stat& file)
{
    if (uid == 0)
        return true;
    if (uid == file.st_uid)
        return file.st_mode & S_IWUSR;
    if (inGroup(uid, file.st_gid))
        return file.st_mode & S_IWGRP;
    return file.st_mode & S_IWOTH;
}

Found find(const QString& path, int rankingFd)
{
    Found found;
    found.fd.reset(openPath(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK));
    found.writable = bool(found.fd);
    if (!found.fd && (errno == EACCES || errno == EROFS || errno == EPERM))
        found.fd.reset(openPath(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK));
    if (found.fd)
        dropCached(found.fd.get());
    struct stat own {
    }, ranking{};
    if (!found.fd || ::fstat(found.fd.get(), &own) != 0 || ::fstat(rankingFd, &ranking) != 0)
        return found;
    if (!S_ISREG(own.st_mode) || own.st_nlink != 1 || sameFile(own, ranking) || !couldWrite(own.st_uid, ranking))
        return found;
    found.trusted = true;
    QByteArray bytes;
    if (readAt(found.fd.get(), 0, journalLimit, bytes))
        found.journal = decode(bytes);
    return found;
}

void discard(const QString& path, Descriptor& fd, bool writable, bool onServer, const QByteArray& id)
{
    struct stat atPath {
    }, open{};
    const bool same = ::lstat(QFile::encodeName(path).constData(), &atPath) == 0 && ::fstat(fd.get(), &open) == 0
                      && sameFile(atPath, open);
    // Closed before it is renamed: some clients refuse to rename a file that is open.
    fd.reset();
    if (!same || retire(path, onServer, id) || !writable)
        return;
    fd.reset(openPath(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK));
    if (fd && ::fstat(fd.get(), &atPath) == 0 && sameFile(atPath, open) && ::ftruncate(fd.get(), 0) == 0)
        sync(fd.get());
    fd.reset();
}

bool recover(int rankingFd, const QString& path, bool onServer, const QByteArray& id,
             const std::function<bool()>& mayWrite)
{
    Found found = find(path, rankingFd);
    if (!found.trusted)
        return true; // none, or refused: left alone
    QByteArray head;
    const std::optional<Journal>& j = found.journal;
    if (j && !readAt(rankingFd, 0, j->newHead.size(), head))
        return false;
    if (j && stateOf(*j, head) == State::HalfWritten) {
        if ((mayWrite && !mayWrite()) || !writeAt(rankingFd, 0, j->oldHead))
            return false;
        if (j->oldSize < j->newHead.size() && sizeOf(rankingFd) > j->oldSize && ::ftruncate(rankingFd, j->oldSize) != 0)
            return false;
        if (!sync(rankingFd))
            return false;
    }
    discard(path, found.fd, found.writable, onServer, id);
    return true;
}

QByteArray before(QByteArrayView head, const QString& path, int rankingFd)
{
    const Found found = find(path, rankingFd);
    if (!found.journal)
        return head.toByteArray();
    const Journal& j = *found.journal;
    const State state = stateOf(j, head.first(qMin(head.size(), j.newHead.size())));
    if (state != State::HalfWritten)
        return head.toByteArray();
    return (j.oldHead + head.sliced(qMin(head.size(), j.oldHead.size())).toByteArray())
        .left(qMax(j.oldSize, qint64(j.oldHead.size())));
}

Made write(const QString& path, const Journal& j, mode_t mode, Descriptor& out, bool onServer, const QByteArray& id)
{
    out.reset(openPath(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode));
    if (!out)
        return Made::NotPossible;
    // Whoever may write the ranking file may replay and remove its journal.
    ::fchmod(out.get(), mode);
    if (!writeAt(out.get(), 0, encode(j)) || !sync(out.get())) {
        discard(path, out, true, onServer, id);
        return Made::Failed;
    }
    // The journal's name, too, must be on the disk before the file is touched.
    syncFolder(QFileInfo(path).absolutePath());
    return Made::Yes;
}

} // namespace storage::journal

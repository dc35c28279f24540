// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Ranking-file contents spelled out byte by byte for the tests, independent of the program's
// own record code, and small file helpers.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rankingbytes {

// One record as the file holds it: the name bytes padded with spaces, then the score low byte first.
inline QByteArray record(const QByteArray& name, int score)
{
    return name.leftJustified(10, ' ', true) + char(score & 0xFF) + char((score >> 8) & 0xFF);
}

inline QByteArray blankRecords(int count)
{
    return record("", 0).repeated(count);
}

// Records with a different name and score each, so that a record in the wrong place shows.
inline QByteArray numberedRecords(int first, int count)
{
    QByteArray bytes;
    for (int n = first; n < first + count; ++n)
        bytes += record("rec" + QByteArray::number(n), 100 + n);
    return bytes;
}

// Range 1 (records 6 to 10) as the game keeps it, sorted: A to E with 50 down to 10.
inline QByteArray sortedRange1()
{
    return record("A", 50) + record("B", 40) + record("C", 30) + record("D", 20) + record("E", 10);
}

// A file as a real game leaves it: numbered records around the sorted range 1, then the bytes
// after record 75.
inline QByteArray gameFile(const QByteArray& tail)
{
    return numberedRecords(1, 5) + sortedRange1() + numberedRecords(11, 11) + numberedRecords(22, 54) + tail;
}

// A game file after saves or a clearing: range 1 as given; the other records of 1 to 21 as
// they were, or blank when a clearing came last; records 22 to 75 blank; the tail kept.
inline QByteArray savedGameFile(const QByteArray& range1, bool cleared, const QByteArray& tail)
{
    return (cleared ? blankRecords(5) : numberedRecords(1, 5)) + range1
           + (cleared ? blankRecords(11) : numberedRecords(11, 11)) + blankRecords(54) + tail;
}

// The score a record holds; 0 for a record cut short.
inline int scoreOf(const QByteArray& rec)
{
    return rec.size() < 12 ? 0 : qint16(quint8(rec[10]) | (quint8(rec[11]) << 8));
}

// The five records of a range after an entry: it goes above the first record whose score is
// not higher than its own, and the fifth falls out (or, below all five, it stays out).
inline QByteArray entered(const QByteArray& range, const QByteArray& name, int score)
{
    qsizetype at = 0;
    while (at < 60 && scoreOf(range.mid(at, 12)) > score)
        at += 12;
    return (range.left(at) + record(name, score) + range.mid(at)).left(60);
}

// Record n (counted from 1) of a file's contents.
inline QByteArray recordAt(const QByteArray& file, int n)
{
    return file.mid((n - 1) * 12, 12);
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// Every name in a directory, hidden ones included.
inline QStringList entries(const QString& directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Owner, group, mode, inode and size of a file, as the system has them (all zero when missing).
inline struct stat statOf(const QString& path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// Gives a file (or a link itself) an owner, a group and a mode, as a teacher sets them up.
inline bool setOwner(const QString& path, uid_t uid, gid_t gid, mode_t mode)
{
    const QByteArray p = QFile::encodeName(path);
    return ::lchown(p.constData(), uid, gid) == 0 && ::chmod(p.constData(), mode) == 0;
}

// Takes the lock that a running copy of the program holds on the file while it saves (on a
// disk of this machine); closing the returned descriptor releases it. -1 when it cannot.
inline int holdSaveLock(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace rankingbytes

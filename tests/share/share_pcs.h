// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The classroom PCs of tst_share: where the mounts are, what each PC does on its own mount in
// a child process of its own, and what the round's outcome should be and was.
#include "storage/file_io.h"
#include "storage/ranking_file.h"
#include "support/child_process.h"
#include "support/ranking_bytes.h"
#include "support/text.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <csignal>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <dirent.h>
#include <grp.h>

namespace sharepcs {

using namespace rankingbytes;
using namespace std::chrono_literals;

inline QStringList mounts()
{
    return qEnvironmentVariable("SHARE_MOUNTS").split(u' ', Qt::SkipEmptyParts);
}

// Two more mounts of the folder whose client caches keep the file's bytes and names
// (mounts.sh CACHED_OPTIONS).
inline QStringList cachedMounts()
{
    return qEnvironmentVariable("SHARE_CACHED_MOUNTS").split(u' ', Qt::SkipEmptyParts);
}

inline QString servedFile()
{
    return qEnvironmentVariable("SHARE_SERVED") + QStringLiteral("/tavon.rnk");
}

// The class list before a round: five entries in range 1 (records 6 to 10), a name and score
// of its own in every other record (or, as the program leaves them, records 22 to 75 blank),
// and bytes after record 75.
inline const QByteArray tail("kept after record 75\n");
inline QByteArray startingFile(bool blankAfter21 = false)
{
    return blankAfter21 ? savedGameFile(sortedRange1(), false, tail) : gameFile(tail);
}

// What one PC does: save (name, score) into range 1, or clear the lists.
struct Step {
    QByteArray name;
    int score = 0;
    bool clearing = false;
};

// The file after the steps, in the order in which they held the lock: a save puts its entry
// above the first entry of range 1 that is not higher, the fifth falls out, and records 22 to
// 75 become blank; a clearing blanks records 1 to 21.
inline QByteArray expectedFile(QByteArray file, const QList<Step>& steps)
{
    for (const Step& step : steps) {
        if (step.clearing) {
            file.replace(0, 21 * 12, blankRecords(21));
            continue;
        }
        file.replace(5 * 12, 5 * 12, entered(file.mid(5 * 12, 5 * 12), step.name, step.score));
        file.replace(21 * 12, 54 * 12, blankRecords(54));
    }
    return file;
}

// Names of range 1 that the expected file has and the real one lacks.
inline int entriesLost(const QByteArray& real, const QByteArray& expected)
{
    int lost = 0;
    for (int n = 6; n <= 10; ++n) {
        bool found = false;
        for (int m = 6; m <= 10; ++m)
            found = found || recordAt(real, m) == recordAt(expected, n);
        lost += found ? 0 : 1;
    }
    return lost;
}

// One PC: waits for the test's 'g', waits delay more, then opens the results window's file
// on its mount and saves or clears. Reports "S <ms>" or "F <ms>". Notes its number in the
// order log when it holds the lock; with dieAt, it dies at that step of its save.
struct Pc {
    QString mount;
    int number = 0;
    Step step;
    std::chrono::milliseconds delay{0};
    std::optional<storage::WriteStep> dieAt;
    int dieAtWrite = 1;                         // with dieAt Written: which record
    std::chrono::milliseconds pauseInside{0};   // a slow server: the save stalls after re-reading
    std::optional<storage::WriteStep> freezeAt; // a PC that freezes (SIGSTOP) at that step, once
    int freezeAtWrite = 1;                      // with freezeAt Written: after which record
    std::chrono::milliseconds staleLock = storage::RankingOptions{}.staleLock;
    bool toldAtStart = false;         // sends 'M' when its save starts
    bool refusesRenamingOpen = false; // its client refuses to rename a file it has open
};

// A file server's client that refuses to rename a file that this PC has open, as some SMB
// clients do.
inline int renameUnlessOpen(const char* from, const char* to)
{
    struct stat target {
    }, open{};
    const std::unique_ptr<DIR, int (*)(DIR*)> fds(::opendir("/proc/self/fd"), ::closedir);
    if (fds && ::lstat(from, &target) == 0)
        while (const dirent* each = ::readdir(fds.get()))
            if (each->d_name[0] != '.' && ::fstat(std::atoi(each->d_name), &open) == 0 && open.st_dev == target.st_dev
                && open.st_ino == target.st_ino) {
                errno = EBUSY;
                return -1;
            }
    return ::rename(from, to);
}

inline int runPc(const ChildProcess::Channel& channel, const Pc& pc, const QString& orderLog)
{
    storage::RankingOptions options{
        {.programDirectory = pc.mount, .fallbackDirectory = QStringLiteral("/proc/no-own-data")}};
    options.staleLock = pc.staleLock;
    if (pc.refusesRenamingOpen)
        storage::fileio::renameFile = renameUnlessOpen;
    int writes = 0;
    bool froze = false;
    options.writeHook = [&](storage::WriteStep step) {
        if (step == storage::WriteStep::Locked) {
            QFile log(orderLog);
            if (log.open(QIODevice::Append))
                log.write(QByteArray::number(pc.number) + '\n');
        }
        if (step == storage::WriteStep::Reread && pc.pauseInside > 0ms) {
            channel.send('M');
            std::this_thread::sleep_for(pc.pauseInside);
        }
        if (step == storage::WriteStep::Starting && pc.toldAtStart)
            channel.send('M');
        if (step == storage::WriteStep::Written)
            ++writes;
        if (pc.dieAt == step && (step != storage::WriteStep::Written || writes == pc.dieAtWrite))
            ::raise(SIGKILL);
        if (!froze && pc.freezeAt == step && (step != storage::WriteStep::Written || writes == pc.freezeAtWrite)) {
            froze = true;
            channel.send('M');
            ::raise(SIGSTOP);
        }
    };
    if (channel.receive() != 'g')
        return 3;
    std::this_thread::sleep_for(pc.delay);
    QElapsedTimer timer;
    timer.start();
    results::BestFiveLists lists;
    storage::RankingFile file(options);
    file.read(lists);
    const bool done =
        bool(pc.step.clearing ? file.blank()
                              : file.save({1, qint16(pc.step.score), u16(QString::fromLatin1(pc.step.name))}));
    file.close();
    channel.send(QByteArray(done ? "S " : "F ") + QByteArray::number(timer.elapsed()) + '\n');
    return 0;
}

// PC numbers in the order in which their saves held the lock. A PC whose lock was taken over
// starts its save afresh: its save is where it held the lock last.
inline QList<int> lockOrder(const QString& orderLog)
{
    QList<int> order;
    for (const QByteArray& line : readFile(orderLog).split('\n')) {
        if (line.isEmpty())
            continue;
        order.removeAll(line.toInt());
        order += line.toInt();
    }
    return order;
}

struct Outcome {
    QList<int> order; // PC numbers in the order they held the lock
    QList<QByteArray> reports;
    qint64 slowestMs = 0;
    QList<qint64> savesMs;
    qint64 medianMs() const
    {
        QList<qint64> sorted = savesMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted.isEmpty() ? 0 : sorted[sorted.size() / 2];
    }
};

// Starts the PCs, releases them together and collects what they report.
inline bool runPcs(const QList<Pc>& pcs, Outcome& outcome, std::chrono::milliseconds wait)
{
    QTemporaryDir logDir;
    const QString orderLog = logDir.filePath(QStringLiteral("order"));
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (const Pc& pc : pcs)
        children.push_back(
            std::make_unique<ChildProcess>([&](const ChildProcess::Channel& c) { return runPc(c, pc, orderLog); }));
    for (auto& child : children)
        if (!child->started() || !child->send('g'))
            return false;
    for (auto& child : children) {
        QByteArray report;
        child->receiveAll(report, wait);
        child->finish(1s);
        outcome.reports += report.trimmed();
        if (report.startsWith("S ")) {
            outcome.savesMs += report.mid(2).trimmed().toLongLong();
            outcome.slowestMs = qMax(outcome.slowestMs, outcome.savesMs.last());
        }
    }
    outcome.order = lockOrder(orderLog);
    return true;
}

// The served file as the teacher set it up: group nbclass (the pupils), mode 0664.
inline bool prepareServedFile(bool blankAfter21 = false)
{
    const group* pupils = ::getgrnam("nbclass");
    return writeFile(servedFile(), startingFile(blankAfter21)) && pupils
           && setOwner(servedFile(), 0, pupils->gr_gid, 0664);
}

// Beside tavon.rnk, at most the lock and the journal of the last save and the guard of the
// last take-over, under the names they were retired to, which the next save removes.
inline bool onlyTheFileIsLeft()
{
    const QRegularExpression retired(
        QStringLiteral("^tavon\\.rnk\\.(lock|journal|lock\\.takeover)\\.[0-9a-f]{16}\\.gone$"));
    QStringList left = entries(QFileInfo(servedFile()).path());
    const qsizetype others = left.removeIf([&](const QString& name) { return retired.match(name).hasMatch(); });
    return left == QStringList{QStringLiteral("tavon.rnk")} && others <= 3;
}

} // namespace sharepcs

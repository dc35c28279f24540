// SPDX-License-Identifier: GPL-3.0-or-later
// The ranking file when the program dies in the middle of a save or a clearing, and when the
// system refuses the write: every save runs in a child process that is killed at one step
// after another, or that runs under a file-size limit.
#include "support/child_process.h"
#include "support/text.h"
#include "support/ranking_bytes.h"
#include "storage/ranking_file.h"
#include "support/program_dir.h"

#include <QDir>
#include <QTest>

#include <csignal>
#include <memory>

#include <sys/resource.h>

using namespace rankingbytes;
using namespace std::chrono_literals;

namespace {

const QByteArray tail = QByteArray("written by some other program\n").repeated(4);
// The entry that every save in this test adds: range 1, score 35, name "Kim".
const results::NewEntry kim{1, 35, u"Kim"};
const QByteArray withKim = savedGameFile(
    record("A", 50) + record("B", 40) + record("Kim", 35) + record("C", 30) + record("D", 20), false, tail);

int totalKillPoints = 0;

} // namespace

class RankingCrashTest : public ProgramDirTest {
    Q_OBJECT

private slots:
    void cleanupTestCase();

    // Guards against a save or a clearing killed part way leaving a mix of old and new records
    // or a cut-short file, and against the lock it leaves behind keeping the next save out.
    void killedAtAnyStepLeavesOldOrNewFile_data();
    void killedAtAnyStepLeavesOldOrNewFile();

    // Guards against a write that the system refuses (file-size limit) being reported as done,
    // leaving a cut-short file in place of the old one, or ending the program (SIGXFSZ).
    void writeBeyondFileSizeLimitFailsAndKeepsOldFile_data();
    void writeBeyondFileSizeLimitFailsAndKeepsOldFile();
};

void RankingCrashTest::cleanupTestCase()
{
    qInfo("kill points tried: %d", totalKillPoints);
}

void RankingCrashTest::killedAtAnyStepLeavesOldOrNewFile_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("clearing");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("save into a full file with bytes after record 75") << gameFile(tail) << false << withKim;
    QTest::newRow("first save into an empty file")
        << QByteArray() << false << blankRecords(5) + record("Kim", 35) + blankRecords(69);
    QTest::newRow("clearing a full file with bytes after record 75")
        << gameFile(tail) << true << blankRecords(21) + gameFile(tail).mid(21 * 12);
    QTest::newRow("clearing a short file") << numberedRecords(1, 8) << true << blankRecords(21);
}

void RankingCrashTest::killedAtAnyStepLeavesOldOrNewFile()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, clearing);
    QFETCH(QByteArray, after);

    int oldSeen = 0;
    int newSeen = 0;
    bool ranThrough = false;
    // Kill point k: the child dies at the k-th step it reaches. Past the last step it finishes.
    for (int k = 1; k < 1000 && !ranThrough; ++k) {
        QVERIFY(writeFile(dir->programFile(), before));
        ChildProcess child([&](const ChildProcess::Channel&) {
            storage::RankingOptions options = dir->options();
            int steps = 0;
            options.writeHook = [&steps, k](storage::WriteStep) {
                if (++steps == k)
                    ::raise(SIGKILL);
            };
            auto&& [lists, file] = Opening(options);
            return (clearing ? file.blank() : file.save(kim)) ? 0 : 1;
        });
        QVERIFY(child.started());
        const int status = child.finish(10s);
        // The file as the next opening finds it, after undoing a save cut short.
        Opening{dir->options()};
        const QByteArray now = readFile(dir->programFile());
        if (ChildProcess::exitedWith(status, 0)) {
            ranThrough = true;
            QCOMPARE(now.toHex(' '), after.toHex(' '));
            break;
        }
        QVERIFY2(ChildProcess::killed(status),
                 qPrintable(QStringLiteral("kill point %1: status %2").arg(k).arg(status)));
        ++totalKillPoints;
        if (now == before)
            ++oldSeen;
        else if (now == after)
            ++newSeen;
        else
            QFAIL(
                qPrintable(QStringLiteral("kill point %1 left %2 bytes that are neither file").arg(k).arg(now.size())));
    }
    QVERIFY(ranThrough);
    // Nothing is left beside the file: no lock, no journal.
    QCOMPARE(entries(dir->programDir), QStringList{QStringLiteral("tavon.rnk")});
    // Kill points fell both before and after the file was replaced.
    QVERIFY(oldSeen > 0);
    QVERIFY(newSeen > 0);
    qInfo("%d kill points: old file %d times, new file %d times", oldSeen + newSeen, oldSeen, newSeen);
}

void RankingCrashTest::writeBeyondFileSizeLimitFailsAndKeepsOldFile_data()
{
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("clearing");
    QTest::addColumn<bool>("saved");

    QTest::newRow("no byte may be written") << qint64(0) << false << false;
    QTest::newRow("limit inside record 9") << qint64(100) << false << false;
    QTest::newRow("limit one byte short of record 75's end") << qint64(899) << false << false;
    QTest::newRow("limit inside the bytes after record 75") << qint64(950) << false << false;
    QTest::newRow("clearing, limit inside record 3") << qint64(30) << true << false;
    QTest::newRow("clearing, limit inside the bytes after record 21") << qint64(500) << true << false;
    QTest::newRow("1 KiB limit: the journal does not fit") << qint64(1024) << false << false;
    QTest::newRow("limit above the new file's size") << qint64(1 << 20) << false << true;
    QTest::newRow("clearing, limit above the new file's size") << qint64(1 << 20) << true << true;
}

void RankingCrashTest::writeBeyondFileSizeLimitFailsAndKeepsOldFile()
{
    QFETCH(qint64, limit);
    QFETCH(bool, clearing);
    QFETCH(bool, saved);

    const QByteArray before = gameFile(tail);
    const QByteArray after = clearing ? blankRecords(21) + before.mid(21 * 12) : withKim;
    QVERIFY(writeFile(dir->programFile(), before));

    ChildProcess child([&](const ChildProcess::Channel&) {
        auto&& [lists, file] = Opening(dir->options());
        // SIGXFSZ as the program finds it: the write must fail (EFBIG), not end the program.
        const rlimit fsize{rlim_t(limit), rlim_t(limit)};
        if (::setrlimit(RLIMIT_FSIZE, &fsize) != 0)
            return 2;
        return int((clearing ? file.blank() : file.save(kim)).reason());
    });
    QVERIFY(child.started());
    const int status = child.finish(10s);
    QVERIFY2(WIFEXITED(status), qPrintable(QString::number(status)));
    QCOMPARE(WEXITSTATUS(status), int(saved ? storage::SaveResult::Saved : storage::SaveResult::WriteFailed));
    QCOMPARE(readFile(dir->programFile()).toHex(' '), (saved ? after : before).toHex(' '));
    // Neither a half-written replacement nor the lock is left beside the file.
    QCOMPARE(entries(dir->programDir), QStringList{QStringLiteral("tavon.rnk")});
}

QTEST_GUILESS_MAIN(RankingCrashTest)
#include "tst_rankingcrash.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Classroom PCs saving into one tavon.rnk on a file server. tests/share/mounts.sh serves a
// folder from this machine over a private sshd and mounts it once per PC with sshfs, then
// runs this program; every PC is a process of its own, on its own mount, logged in to the
// server as its own pupil, running the program's own Read and Save.
#include "share/share_pcs.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <thread>

#include <sys/stat.h>

using namespace rankingbytes;
using namespace sharepcs;
using namespace std::chrono_literals;

class ShareTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    // Guards against entries lost when the PCs of a class finish at once, a clearing undone
    // or half done, bytes after record 75 or record 21 touched, and the teacher's owner, group
    // and mode replaced by a saving pupil's.
    void fortyPcsFinishAtOnce_data();
    void fortyPcsFinishAtOnce();

    // Guards against a PC that died holding the lock, or part way through its write, keeping
    // the others out for good or leaving a mix of old and new lists, and against journals left
    // beside the file where the PCs' clients refuse to rename a file that is open.
    void pcThatDiesHoldingTheLockIsTakenOver_data();
    void pcThatDiesHoldingTheLockIsTakenOver();

    // Guards against a slow save losing its lock to another PC because it outlasted the
    // stale time, and a save that gives up waiting while the PC ahead of it is alive.
    void slowSaveKeepsItsLock();

    // Guards against a PC that froze inside its save writing over the save of the PC that
    // took its lock over, a take-over rolling back a save that had run through, and a save
    // reported as done whose entry is not in the file, a save kept by the taker going in a
    // second time, and a save re-reading the file from its PC's cache of it.
    void frozenPcDoesNotWriteOverTheTakersSave_data();
    void frozenPcDoesNotWriteOverTheTakersSave();
};

void ShareTest::initTestCase()
{
    if (mounts().size() < 2)
        QFAIL("No network mount: run this test through tests/share/mounts.sh, which serves a folder over sshfs "
              "(it needs root, /dev/fuse, sshd and sshfs).");
}

void ShareTest::init()
{
    QVERIFY(prepareServedFile());
}

void ShareTest::fortyPcsFinishAtOnce_data()
{
    QTest::addColumn<int>("clearingPc"); // -1 for none
    QTest::addColumn<int>("spreadMs");   // saves start at random times within this span

    const int spread =
        qEnvironmentVariableIsSet("SHARE_SPREAD_MS") ? qEnvironmentVariableIntValue("SHARE_SPREAD_MS") : 3000;
    QTest::newRow("all at once") << -1 << 0;
    QTest::newRow("all at once, one PC clears the lists") << 20 << 0;
    QTest::newRow("spread out") << -1 << spread;
    QTest::newRow("spread out, one PC clears the lists") << 20 << spread;
}

void ShareTest::fortyPcsFinishAtOnce()
{
    QFETCH(int, clearingPc);
    QFETCH(int, spreadMs);

    const QStringList places = mounts();
    const int count = int(qMin<qsizetype>(places.size(), 40));
    QList<Pc> pcs;
    // Scores from 11 to 70 with many ties among them and with the entries already there.
    for (int i = 0; i < count; ++i)
        pcs += Pc{.mount = places[i],
                  .number = i,
                  .step = {"pc" + QByteArray::number(i), 10 + (i * 7) % 60 + 1, i == clearingPc},
                  .delay = std::chrono::milliseconds(spreadMs ? QRandomGenerator::global()->bounded(spreadMs) : 0)};
    const struct stat before = statOf(servedFile());

    Outcome outcome;
    QVERIFY(runPcs(pcs, outcome, 60s));
    for (int i = 0; i < count; ++i)
        QVERIFY2(outcome.reports[i].startsWith("S "),
                 qPrintable(QStringLiteral("PC %1: %2").arg(i).arg(QString::fromLatin1(outcome.reports[i]))));
    QCOMPARE(outcome.order.size(), count);

    QList<Step> steps;
    for (int n : outcome.order)
        steps += pcs[n].step;
    const QByteArray expected = expectedFile(startingFile(), steps);
    const QByteArray real = readFile(servedFile());
    qInfo("%d PCs, %d saves, %d clearing; entries lost: %d; save median %lld ms, slowest %lld ms", count,
          count - (clearingPc >= 0 ? 1 : 0), clearingPc >= 0 ? 1 : 0, entriesLost(real, expected), outcome.medianMs(),
          outcome.slowestMs);
    QCOMPARE(real.toHex(' '), expected.toHex(' '));

    // The teacher's set-up stays; nothing is left beside the file.
    const struct stat after = statOf(servedFile());
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_ino, before.st_ino);
    QVERIFY2(onlyTheFileIsLeft(), qPrintable(entries(QFileInfo(servedFile()).path()).join(u' ')));
}

void ShareTest::pcThatDiesHoldingTheLockIsTakenOver_data()
{
    QTest::addColumn<storage::WriteStep>("dieAt");
    QTest::addColumn<bool>("refusingRename"); // clients that refuse to rename a file they have open
    QTest::newRow("dies right after taking the lock") << storage::WriteStep::Locked << false;
    QTest::newRow("dies with ten records written") << storage::WriteStep::Written << false;
    QTest::newRow("dies with ten records written, clients refuse to rename an open file")
        << storage::WriteStep::Written << true;
}

void ShareTest::pcThatDiesHoldingTheLockIsTakenOver()
{
    QFETCH(storage::WriteStep, dieAt);
    QFETCH(bool, refusingRename);
    const QStringList places = mounts();

    const Pc dying{.mount = places[0], .step = {"dead", 99}, .dieAt = dieAt, .dieAtWrite = 10};
    Outcome died;
    QVERIFY(runPcs({dying}, died, 30s));
    QCOMPARE(died.reports, QList<QByteArray>{QByteArray()});

    // The others start as soon as it is dead; each must wait for the lock to be seen as left.
    QList<Pc> others;
    for (int i = 1; i < qMin<qsizetype>(places.size(), 11); ++i)
        others += Pc{.mount = places[i],
                     .number = i,
                     .step = {"pc" + QByteArray::number(i), 40 + i},
                     .refusesRenamingOpen = refusingRename};
    Outcome outcome;
    QVERIFY(runPcs(others, outcome, 60s));
    for (const QByteArray& report : outcome.reports)
        QVERIFY2(report.startsWith("S "), report.constData());
    QList<Step> steps;
    for (int n : outcome.order)
        steps += others[n - 1].step;
    qInfo("after the holder died: %lld saves, slowest %lld ms", qsizetype(others.size()), outcome.slowestMs);
    QCOMPARE(readFile(servedFile()).toHex(' '), expectedFile(startingFile(), steps).toHex(' '));
    // Taken over once the lock is seen as left, long before a PC would give up waiting: the ten
    // saves then run one after another, each up to a second on a busy machine.
    QVERIFY(outcome.slowestMs < storage::RankingOptions{}.staleLock.count() + 15000);
    QVERIFY2(onlyTheFileIsLeft(), qPrintable(entries(QFileInfo(servedFile()).path()).join(u' ')));
}

void ShareTest::slowSaveKeepsItsLock()
{
    // Longer than any fixed wait a save once had (10 s), with a stale time a third of the usual.
    const QStringList places = mounts();
    const Pc slow{.mount = places[0], .step = {"slow", 45}, .pauseInside = 11s, .staleLock = 1s};
    const Pc quick{.mount = places[1], .number = 1, .step = {"quick", 35}, .staleLock = 1s};

    QTemporaryDir logDir;
    const QString orderLog = logDir.filePath(QStringLiteral("order"));
    ChildProcess a([&](const ChildProcess::Channel& c) { return runPc(c, slow, orderLog); });
    ChildProcess b([&](const ChildProcess::Channel& c) { return runPc(c, quick, orderLog); });
    QVERIFY(a.send('g'));
    QCOMPARE(a.receive(10s), std::optional<char>('M'));
    QVERIFY(b.send('g'));
    QByteArray reportA, reportB;
    QVERIFY(a.receiveAll(reportA, 60s));
    QVERIFY(b.receiveAll(reportB, 60s));
    QVERIFY2(reportA.startsWith("S ") && reportB.startsWith("S "), (reportA + " / " + reportB).constData());
    QVERIFY2(reportB.mid(2).trimmed().toLongLong() > 10000, reportB.constData());
    QCOMPARE(readFile(orderLog), QByteArray("0\n1\n"));
    QCOMPARE(readFile(servedFile()).toHex(' '), expectedFile(startingFile(), {slow.step, quick.step}).toHex(' '));
}

void ShareTest::frozenPcDoesNotWriteOverTheTakersSave_data()
{
    QTest::addColumn<storage::WriteStep>("freezeAt");
    QTest::addColumn<int>("afterRecord"); // -1: stopped by the test at a random instant of its save
    QTest::addColumn<bool>("blankAfter21");
    QTest::addColumn<bool>("cached"); // on the two mounts whose client caches keep the file's bytes
    QTest::newRow("freezes holding the lock") << storage::WriteStep::Locked << 0 << false << false;
    QTest::newRow("freezes having re-read the file") << storage::WriteStep::Reread << 0 << false << false;
    QTest::newRow("freezes with its journal written") << storage::WriteStep::Journaled << 0 << false << false;
    QTest::newRow("freezes with one record written") << storage::WriteStep::Written << 1 << false << false;
    QTest::newRow("freezes with 74 records written") << storage::WriteStep::Written << 74 << false << false;
    QTest::newRow("freezes with all records written") << storage::WriteStep::Written << 75 << false << false;
    // Its last changed record is its tenth: the taker finds it complete.
    QTest::newRow("records 22 to 75 blank, freezes with ten records written")
        << storage::WriteStep::Written << 10 << true << false;
    // A read the lists before it froze; B saved meanwhile on the other PC.
    QTest::newRow("client caches keep the file, freezes before it saves")
        << storage::WriteStep::Starting << 0 << false << true;
    const int runs =
        qEnvironmentVariableIsSet("SHARE_FREEZE_RUNS") ? qEnvironmentVariableIntValue("SHARE_FREEZE_RUNS") : 3;
    for (int run = 1; run <= runs; ++run)
        QTest::addRow("records 22 to 75 blank, frozen at a random instant, %d", run)
            << storage::WriteStep::Starting << -1 << true << false;
}

void ShareTest::frozenPcDoesNotWriteOverTheTakersSave()
{
    QFETCH(storage::WriteStep, freezeAt);
    QFETCH(int, afterRecord);
    QFETCH(bool, blankAfter21);
    QFETCH(bool, cached);
    QVERIFY(prepareServedFile(blankAfter21));
    const QStringList places = cached ? cachedMounts() : mounts();
    QVERIFY(places.size() >= 2);
    const bool atRandom = afterRecord < 0;
    const Pc frozen{.mount = places[0],
                    .step = {"A", 30},
                    .freezeAt = atRandom ? std::nullopt : std::optional(freezeAt),
                    .freezeAtWrite = afterRecord,
                    .toldAtStart = atRandom};
    const Pc taker{.mount = places[1], .number = 1, .step = {"B", 25}};

    QTemporaryDir logDir;
    const QString orderLog = logDir.filePath(QStringLiteral("order"));
    ChildProcess a([&](const ChildProcess::Channel& c) { return runPc(c, frozen, orderLog); });
    ChildProcess b([&](const ChildProcess::Channel& c) { return runPc(c, taker, orderLog); });
    QVERIFY(a.send('g'));
    QCOMPARE(a.receive(10s), std::optional<char>('M'));
    if (atRandom) {
        // Within about the time a save takes here (SHARE_FREEZE_SPAN_MS), or after it.
        const int span = qEnvironmentVariableIsSet("SHARE_FREEZE_SPAN_MS")
                             ? qEnvironmentVariableIntValue("SHARE_FREEZE_SPAN_MS")
                             : 400;
        std::this_thread::sleep_for(std::chrono::microseconds(QRandomGenerator::global()->bounded(span * 1000)));
        QVERIFY(::kill(a.id(), SIGSTOP) == 0);
    }
    // A stays stopped until B, having seen A's lock unchanged for the stale time, has saved.
    QVERIFY(b.send('g'));
    QByteArray reportA, reportB;
    QVERIFY(b.receiveAll(reportB, 30s));
    QVERIFY(::kill(a.id(), SIGCONT) == 0);
    QVERIFY(a.receiveAll(reportA, 30s));

    QList<Step> steps;
    for (int n : lockOrder(orderLog))
        steps += n == 0 ? frozen.step : taker.step;
    const QByteArray real = readFile(servedFile());
    const QByteArray expected = expectedFile(startingFile(blankAfter21), steps);
    int copiesOfA = 0;
    QByteArray range1;
    for (int n = 6; n <= 10; ++n) {
        copiesOfA += recordAt(real, n) == record("A", 30) ? 1 : 0;
        range1 += recordAt(real, n).left(1) + QByteArray::number(scoreOf(recordAt(real, n))) + ' ';
    }
    qInfo("A %s, B %s; range 1: %s; duplicates %d, lost %d, false saved %d", reportA.trimmed().constData(),
          reportB.trimmed().constData(), range1.constData(), qMax(0, copiesOfA - 1), entriesLost(real, expected),
          (reportA.startsWith("S ") && copiesOfA == 0) ? 1 : 0);
    QVERIFY2(reportA.startsWith("S ") && reportB.startsWith("S "), (reportA + " / " + reportB).constData());
    QCOMPARE(steps.size(), 2);
    QCOMPARE(real.toHex(' '), expected.toHex(' '));
    QVERIFY2(onlyTheFileIsLeft(), qPrintable(entries(QFileInfo(servedFile()).path()).join(u' ')));
}

QTEST_GUILESS_MAIN(ShareTest)
#include "tst_share.moc"

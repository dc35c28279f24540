// SPDX-License-Identifier: GPL-3.0-or-later
// The file server's lock file on its own, in a temporary directory: what a copy that wants the
// lock finds at its path, and what a holder makes of a lock file that changed under it. The
// forty-PC test over sshfs (tests/share) plays the same lock between machines.
#include "storage/lock_file.h"
#include "support/program_dir.h"
#include "support/ranking_bytes.h"

#include <QTest>

#include <memory>

using namespace rankingbytes;
using namespace std::chrono_literals;

namespace {

constexpr auto stale = 400ms; // beats every 100 ms

const QByteArray leftBehind = "nubora1 lock other-pc 4242 0123456789abcdef beat 0000000007\n";

} // namespace

class LockFileTest : public ProgramDirTest {
    Q_OBJECT

private slots:
    // Guards against a live holder's lock taken over, a dead one's never taken over (or the
    // takeover guard of a PC that died taking over blocking it for good), a folder that
    // takes no file making the copy wait to the deadline, and the wait told more than once.
    void acquireEndsByWhatIsAtThePath_data();
    void acquireEndsByWhatIsAtThePath();

    // Guards against a holder writing on after its lock file was taken over or moved aside.
    void holderMayWriteOnlyWhileTheFileNamesIt_data();
    void holderMayWriteOnlyWhileTheFileNamesIt();
};

void LockFileTest::acquireEndsByWhatIsAtThePath_data()
{
    QTest::addColumn<QString>("there");
    QTest::addColumn<storage::LockResult>("result");
    QTest::addColumn<int>("waits");
    QTest::addColumn<bool>("atOnce"); // before the stale time

    QTest::newRow("nothing") << "nothing" << storage::LockResult::Held << 0 << true;
    QTest::newRow("a live holder's lock") << "live" << storage::LockResult::TimedOut << 1 << false;
    QTest::newRow("a lock left behind") << "left" << storage::LockResult::Held << 1 << false;
    QTest::newRow("a lock and a takeover guard left behind") << "guard" << storage::LockResult::Held << 1 << false;
    // One refusal is no proof (a lock may go between the create and the look at it).
    QTest::newRow("no folder") << "no folder" << storage::LockResult::Impossible << 1 << true;
}

void LockFileTest::acquireEndsByWhatIsAtThePath()
{
    QFETCH(QString, there);
    QFETCH(storage::LockResult, result);
    QFETCH(int, waits);
    QFETCH(bool, atOnce);

    QString path = lockPath();
    std::unique_ptr<storage::LockFile> live;
    if (there == QLatin1String("live")) {
        live = std::make_unique<storage::LockFile>(path, stale);
        QVERIFY(live->acquire(storage::SaveClock::now(), {}) == storage::LockResult::Held);
    } else if (there == QLatin1String("left") || there == QLatin1String("guard")) {
        QVERIFY(writeFile(path, leftBehind));
        if (there == QLatin1String("guard"))
            QVERIFY(writeFile(path + QStringLiteral(".takeover"), "nubora1 lock other-pc 4242 0123456789abcdef"));
    } else if (there == QLatin1String("no folder")) {
        path = dir->path(QStringLiteral("missing/tavon.rnk.lock"));
    }

    // Long enough for the lock to be seen as left (the stale time), the guard to go (twice
    // the stale time) and the lock after it (the stale time again), with a stale time to spare.
    const auto deadline = storage::SaveClock::now() + 5 * stale;
    int waited = 0;
    storage::LockFile lock(path, stale);
    const auto start = storage::SaveClock::now();
    QCOMPARE(int(lock.acquire(deadline, [&] { ++waited; })), int(result));
    QCOMPARE(storage::SaveClock::now() - start < stale, atOnce);
    QCOMPARE(waited, waits);
    if (result == storage::LockResult::Held) {
        QVERIFY(readFile(path).startsWith("nubora1 lock "));
        QVERIFY(readFile(path).contains(lock.ownId()));
        QVERIFY(lock.mayWrite());
    }
    if (live)
        QVERIFY(live->mayWrite()); // the live holder kept its lock
}

void LockFileTest::holderMayWriteOnlyWhileTheFileNamesIt_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("mayWrite");

    QTest::newRow("left as it is") << "none" << true;
    QTest::newRow("taken over by another PC") << "taken" << false;
    QTest::newRow("moved aside") << "moved" << false;
}

void LockFileTest::holderMayWriteOnlyWhileTheFileNamesIt()
{
    QFETCH(QString, change);
    QFETCH(bool, mayWrite);

    storage::LockFile lock(lockPath(), stale);
    QVERIFY(lock.acquire(storage::SaveClock::now(), {}) == storage::LockResult::Held);
    if (change == QLatin1String("taken")) {
        QVERIFY(QFile::rename(lockPath(), lockPath() + QStringLiteral(".x.gone")));
        QVERIFY(writeFile(lockPath(), leftBehind));
    } else if (change == QLatin1String("moved")) {
        QVERIFY(QFile::rename(lockPath(), lockPath() + QStringLiteral(".x.gone")));
    }
    QCOMPARE(lock.mayWrite(), mayWrite);
    QCOMPARE(lock.stillOurs(), mayWrite);
}

QTEST_GUILESS_MAIN(LockFileTest)
#include "tst_lockfile.moc"

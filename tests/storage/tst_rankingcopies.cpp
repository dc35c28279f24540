// SPDX-License-Identifier: GPL-3.0-or-later
// Two running copies of the program on one ranking file: each is a forked process with its own
// results window opening (Read, then Save or Blank), driven step by step over pipes so that
// their openings, saves and locks interleave in a chosen order.
#include "support/running_copy.h"
#include "support/text.h"
#include "support/ranking_bytes.h"
#include "storage/ranking_file.h"
#include "support/program_dir.h"
#include "support/rows.h"

#include <QDir>
#include <QTest>

#include <memory>

using namespace rankingbytes;
using namespace std::chrono_literals;

namespace {

const QByteArray tail("bytes after record 75\n");

} // namespace

class RankingCopiesTest : public ProgramDirTest {
    Q_OBJECT

private slots:
    void init();

    // Guards against one copy's save overwriting the entry that the other saved after both
    // opened, a clearing undone by a later save of the other copy, saves that do not wait for
    // each other's lock, and a lock left by a killed copy blocking the other for good.
    void twoCopiesKeepEachOthersWork_data();
    void twoCopiesKeepEachOthersWork();

    // Guards against a lock file left beside the file (by another PC, or an older version of
    // the program) blocking saves on a disk of this machine, where it is not used, and against
    // a save going ahead, or hanging, while a live copy keeps the lock.
    void saveWaitsOnlyForALiveCopysLock_data();
    void saveWaitsOnlyForALiveCopysLock();
};

void RankingCopiesTest::init()
{
    ProgramDirTest::init();
    QVERIFY(writeFile(dir->programFile(), gameFile(tail)));
}

void RankingCopiesTest::twoCopiesKeepEachOthersWork_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("after");

    // Copy A saves "Ami" with 35 in range 1, copy B "Bo" with 45. Script steps: "A>o" sends
    // o to copy A, "A<O" waits for A to answer O, "A!" kills A.
    const QByteArray both = savedGameFile(
        record("A", 50) + record("Bo", 45) + record("B", 40) + record("Ami", 35) + record("C", 30), false, tail);
    const QByteArray amiAlone = savedGameFile(record("Ami", 35) + blankRecords(4), true, tail);
    const QByteArray boOnly = savedGameFile(
        record("A", 50) + record("Bo", 45) + record("B", 40) + record("C", 30) + record("D", 20), false, tail);
    QTest::newRow("both open, A saves, then B saves") << "A>o A<O B>o B<O A>s A<S B>s B<S" << both;
    QTest::newRow("both open, B saves, then A saves") << "A>o A<O B>o B<O B>s B<S A>s A<S" << both;
    QTest::newRow("B saves while A is inside its save") << "A>o A<O B>o B<O A>p A<M B>s B<W A>c A<S B<S" << both;
    QTest::newRow("B clears, then A, opened before, saves") << "A>o A<O B>o B<O B>b B<B A>s A<S" << amiAlone;
    QTest::newRow("A saves while B is inside its clearing")
        << "A>o A<O B>o B<O B>P B<M A>s A<W B>c B<B A<S" << amiAlone;
    QTest::newRow("B clears while A is inside its save")
        << "A>o A<O B>o B<O A>p A<M B>b B<W A>c A<S B<B" << savedGameFile(blankRecords(5), true, tail);
    QTest::newRow("A killed inside its save, B saves") << "A>o A<O B>o B<O A>p A<M A! B>s B<S" << boOnly;
    QTest::newRow("A killed inside its save while B waits for the lock")
        << "A>o A<O B>o B<O A>p A<M B>s B<W A! B<S" << boOnly;
}

void RankingCopiesTest::twoCopiesKeepEachOthersWork()
{
    QFETCH(QString, script);
    QFETCH(QByteArray, after);

    ChildProcess a([this](const ChildProcess::Channel& c) { return runningCopy(c, {1, 35, u"Ami"}, dir->options()); });
    ChildProcess b([this](const ChildProcess::Channel& c) { return runningCopy(c, {1, 45, u"Bo"}, dir->options()); });
    QVERIFY(a.started() && b.started());

    const QString wrong = playScript(script, a, b);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    QCOMPARE(readFile(dir->programFile()).toHex(' '), after.toHex(' '));
    QCOMPARE(entries(dir->programDir), QStringList{QStringLiteral("tavon.rnk")});
}

void RankingCopiesTest::saveWaitsOnlyForALiveCopysLock_data()
{
    bothWays("live", "a live copy keeps the lock", "a lock file left by another PC");
}

void RankingCopiesTest::saveWaitsOnlyForALiveCopysLock()
{
    QFETCH(bool, live);
    storage::RankingOptions options = dir->options();
    options.lockWait = 300ms;
    // A lock as another PC's copy leaves it: its process cannot be asked from here.
    const int other = live ? holdSaveLock(dir->programFile()) : -1;
    QVERIFY(live ? other >= 0 : writeFile(lockPath(), "4242\nnubora1\nanother-pc-in-the-classroom\n"));

    auto&& [lists, file] = Opening(options);
    if (live) {
        QCOMPARE(file.save({1, 45, u"Bo"}).reason(), storage::SaveResult::Busy);
        QCOMPARE(file.blank().reason(), storage::SaveResult::Busy);
        QCOMPARE(readFile(dir->programFile()), gameFile(tail));
        ::close(other); // once the other copy is done, the same opening saves
    }
    QVERIFY(file.save({1, 45, u"Bo"}));
    file.close();
    QCOMPARE(recordAt(readFile(dir->programFile()), 7), record("Bo", 45));
}

QTEST_GUILESS_MAIN(RankingCopiesTest)
#include "tst_rankingcopies.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// A save or clearing of the results window runs on a thread of its own while the window's
// event loop goes on; here a game ends meanwhile and opens the next results window, which
// reads the lists on the window's thread. Built under ThreadSanitizer by `make test`, where
// any record, buffer or list that both threads use without a hand-over is reported.
#include "app/windows.h"
#include "results/form3.h"
#include "rules/module1.h"
#include "support/fake_services.h"
#include "support/program_dir.h"
#include "support/ranking_bytes.h"
#include "windows/design.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using namespace rankingbytes;

class SaveBesideTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { windows::initApplication(*qApp); }

    // Guards against the clearing's thread and the window's thread sharing a record buffer
    // (a data race that ThreadSanitizer reports), against a window opened meanwhile missing
    // the lists or its new entry, and against the clearing lost when its window went.
    void gameEndsWhileTheListsAreCleared();
};

void SaveBesideTest::gameEndsWhileTheListsAreCleared()
{
    ProgramDir dir;
    QVERIFY(dir.isValid());
    storage::RankingOptions options = dir.options();
    options.lockWait = std::chrono::seconds(3);
    Module1::reset();
    FakeServices fake;
    app::Windows wiring(options);
    const QByteArray before = gameFile("after 75");
    QVERIFY(writeFile(dir.programFile(), before));

    // The lists viewed from the menu during a game; 初期化, answered OK, waits behind another
    // copy's save until the game's window has read the file.
    wiring.showResults(false);
    Form3& viewing = wiring.form3();
    int otherCopy = holdSaveLock(dir.programFile());
    QVERIFY(otherCopy >= 0);

    QStringList shown;
    fake.onModal = [&](ui::Form& form) {
        auto& results = static_cast<Form3&>(form);
        for (std::int16_t i = 0; i < 5; ++i)
            shown << results.namae(i).caption();
        ::close(otherCopy);
        otherCopy = -1;
        results.close();
    };
    QTimer::singleShot(0, [&wiring] {
        Module1::tensu = 35;
        Module1::hani = 1;
        wiring.showResults(true); // the game's end
    });
    viewing.Command2_Click();

    QCOMPARE(otherCopy, -1);
    QCOMPARE(shown, (QStringList{"A", "B", QStringLiteral("ここです！"), "C", "D"}));
    QCOMPARE(fake.messages.size(), std::size_t(1)); // the question alone: the clearing went through
    QCOMPARE(readFile(dir.programFile()).toHex(' '), (blankRecords(21) + before.mid(21 * 12)).toHex(' '));

    wiring.destroyAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QTEST_MAIN(SaveBesideTest)
#include "tst_savebeside.moc"

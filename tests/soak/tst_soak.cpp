// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real windows headless through thousands of random events, as a restless class
// would: clicks on whatever is enabled, ticks, range changes, Start mid-game, the help and
// results windows opened and closed, names of every kind, 初期化 answered both ways. After
// every event the game's invariants must hold. It runs twice: with message boxes and the
// game's results window answered by stand-ins, and as real boxes and modal windows in their
// own nested event loops, answered from a timer after the countdown may have ticked on (and
// ended the game) under them. The seed is fixed; SOAK_EVENTS and SOAK_SEED in the environment
// make a longer or different run (`make soak`).
#include "rules/module1.h"
#include "support/text.h"
#include "rules/number_text.h"
#include "app/windows.h"
#include "game/form1.h"
#include "rules/question.h"
#include "help/form2.h"
#include "results/form3.h"
#include "support/game_fixture.h"
#include "support/ranking_bytes.h"
#include "support/real_modals.h"
#include "support/rows.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTest>

#include <optional>
#include <random>

namespace {

int openDescriptors()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

int envOr(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

class Soak {
public:
    Soak(GameFixture& game, unsigned seed) : game(game), rng(seed)
    {
        ui::services().rnd = [this] { return std::uniform_real_distribution<double>(0.0, 1.0)(rng); };
        game.services().onModal = [this](ui::Form& form) { playResults(static_cast<Form3&>(form), true); };
        game.services().onMessage = [this](const ui::Message& m) {
            if (m.buttons == ui::Buttons::OkCancel)
                this->game.services().answers.push_back(pick(2) ? ui::Answer::Ok : ui::Answer::Cancel);
        };
    }

    void step()
    {
        Form1& f = game.form();
        switch (pick(16)) {
        case 0:
            f.Command1_Click();
            expectedTotal = 0;
            break;
        case 1:
        case 2:
        case 3:
        case 4: answer(static_cast<std::int16_t>(std::array{0, 1, 2, 4}[pick(4)])); break;
        case 5:
        case 6:
        case 7:
        case 8:
        case 9: f.Timer1_Timer(); break;
        case 10: f.Command3_Click(); break;
        case 11: f.en(static_cast<std::int16_t>(pick(4))).trigger(); break;
        case 12: (pick(2) ? f.m1c->trigger() : f.tokutenyo->click()); break;
        case 13: (pick(2) ? f.helpyo_Click() : f.m5c_Click()); break;
        case 14:
            if (game.windows().helpExists() && game.windows().form2().isVisible())
                pick(2) ? game.windows().form2().Command1_Click() : void(game.windows().form2().close());
            break;
        case 15:
            if (game.windows().resultsExist())
                playResults(game.windows().form3(), false);
            break;
        }
        GameFixture::settle();
    }

    void checkInvariants()
    {
        Form1& f = game.form();
        const int total = numtext::readNumber(u16(f.tokutenyo->text()));
        if (f.tokutenyo->text() != QStringLiteral("得点")) {
            QVERIFY(total >= 0 && total <= 50);
            QCOMPARE(total, expectedTotal);
        }
        for (std::int16_t i = 0; i < 4; ++i)
            QCOMPARE(f.en(i).isChecked(), i == Module1::hani); // the current range's entry, and it alone
        QCOMPARE(f.Command3->text(), QStringLiteral("ｘの値：") + qs(f.model.hanimei[Module1::hani]));
        QVERIFY(f.kotae(3).isHidden());

        QVERIFY(GameFixture::openWindows<Form3>() <= 1);
        QVERIFY(GameFixture::openWindows<Form2>() <= 1);
        checkRankingFile();
    }

    int closedUnderTicks = 0; // boxes and windows closed by the game's end under them

    // While a box or modal window waits in its nested loop the countdown goes on (and may end
    // the game, closing it); then the pupil answers whatever is still open.
    void playInNestedLoop(QWidget& modal)
    {
        Form1& f = game.form();
        for (int ticks = pick(2) ? 0 : pick(60); ticks > 0 && f.Timer1->isRunning() && modal.isVisible(); --ticks)
            f.Timer1_Timer();
        if (!modal.isVisible())
            ++closedUnderTicks;
        else if (auto* box = qobject_cast<QMessageBox*>(&modal))
            box->button(pick(2) && box->button(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::Ok)->click();
        else
            playResults(static_cast<Form3&>(modal), true);
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    void answer(std::int16_t index)
    {
        Form1& f = game.form();
        if (!f.kotae(index).isEnabled())
            return;
        if (question::isRightAnswer(f.model.kankei, index))
            expectedTotal += numtext::readNumber(u16(f.tokuten->caption()));
        f.kotae(index).click();
    }

    QString randomName()
    {
        static const QStringList kinds = {
            QString(),
            QStringLiteral("TARO"),
            QStringLiteral("たろう"),
            QStringLiteral("山田花子です"),
            QStringLiteral("ｶﾀｶﾅ"),
            QStringLiteral("😀🎉"),
            QStringLiteral("a\tb\nc\x01\x7f"),
            QString(200, QChar(u'長')),
            QStringLiteral("〜−‖¢£¬"),
            QStringLiteral("12345678901"),
        };
        return kinds[pick(kinds.size())];
    }

    // What a pupil does in the results window: maybe types a name, then leaves it one way.
    void playResults(Form3& r, bool modal)
    {
        if (r.Text1->isVisible())
            r.Text1->setText(randomName());
        switch (pick(modal ? 3 : 4)) {
        case 0: r.Command1_Click(); break;
        case 1: {
            std::int16_t enter = 13;
            r.Text1_KeyPress(enter);
            if (!r.isUnloaded())
                r.Command1_Click(); // Enter with the name box hidden does nothing
            break;
        }
        case 2: r.Command2_Click(); break;
        default: r.close(); break;
        }
        if (!r.isUnloaded())
            r.Unload();
    }

    void checkRankingFile()
    {
        QFile file(game.rankingPath());
        if (!file.exists())
            return;
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY2(bytes.size() == 0 || bytes.size() == 252 || bytes.size() == 900,
                 qPrintable(QStringLiteral("tavon.rnk is %1 bytes").arg(bytes.size())));
        auto score = [&](int record) { return rankingbytes::scoreOf(rankingbytes::recordAt(bytes, record + 1)); };
        for (int range = 0; range < 4; ++range)
            for (int place = 1; place < 5; ++place)
                QVERIFY(score(range * 5 + place - 1) >= score(range * 5 + place));
    }

    GameFixture& game;
    std::mt19937 rng;
    int expectedTotal = 0;
};

} // namespace

class SoakTest : public QObject {
    Q_OBJECT
private slots:
    void invariantsHoldThroughRandomPlay_data();
    void invariantsHoldThroughRandomPlay();
};

void SoakTest::invariantsHoldThroughRandomPlay_data()
{
    bothWays("nestedLoops", "real nested loops", "stand-ins");
}

// Guards against any sequence of events breaking the total, the range display, the one-window
// rule, the order of the stored lists, or leaking file descriptors; and, with real nested
// loops, against a window destroyed under a handler or box still running in it (a crash, or
// an error under AddressSanitizer), or a box or modal window left open.
void SoakTest::invariantsHoldThroughRandomPlay()
{
    QFETCH(bool, nestedLoops);
    const int events = envOr("SOAK_EVENTS", 3000);
    const unsigned seed = static_cast<unsigned>(envOr("SOAK_SEED", 20261208));
    GameFixture game;
    Soak soak(game, seed);
    std::optional<RealModals> real;
    if (nestedLoops)
        real.emplace([&soak](QWidget& modal) { soak.playInNestedLoop(modal); });
    const int descriptors = openDescriptors();
    for (int i = 0; i < events; ++i) {
        soak.step();
        soak.checkInvariants();
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("after event %1 of seed %2").arg(i).arg(seed)));
    }
    QVERIFY2(
        openDescriptors() <= descriptors + 2,
        qPrintable(QStringLiteral("%1 descriptors open, %2 at the start").arg(openDescriptors()).arg(descriptors)));
    if (real)
        qInfo("%d events, seed %u: %d nested loops, %d closed by the game's end under them, invariants held", events,
              seed, real->opened, soak.closedUnderTicks);
    else
        qInfo("%d events, seed %u: %d games ended, %d messages, invariants held", events, seed,
              int(game.services().modalForms.size()), int(game.services().messages.size()));
}

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// A game's log: games played through the game window and recorded replay as they were played,
// the log's text is read strictly, and forged entries are refused with their reason. A class
// round's answers are logged with the points the server's clock gives them.
#include "rules/class_round.h"
#include "rules/game_log.h"
#include "rules/game_log_recorder.h"
#include "rules/game_replay.h"
#include "rules/module1.h"
#include "rules/number_text.h"
#include "support/text.h"

#include <QTest>

#include <variant>

using gamelog::GameLog;
using gamelog::Refusal;
using gamelog::Replay;

namespace {

// What the window showed for one question: its kind, and its x then y cells.
struct Shown {
    int kankei = 0;
    QStringList cells;
};

// A game played as a pupil would through a window and a recorder, by a script of one word per
// question: "rN" the right button after N ticks, "wN" a wrong one after N ticks, "t" a
// time-out; "hR" before a word changes the range to R while that question stands.
struct Played {
    gamelog::GameLogRecorder recorder;
    game::GameWindow window{recorder.draw()};
    QList<Shown> shown;

    Played() { window.Form_Load(); }

    void play(std::uint32_t seed, const QStringList& script)
    {
        shown.clear();
        game::Step step = recorder.Command1_Click(window, seed);
        for (QString word : script) {
            QVERIFY(step.nextQuestion);
            step = recorder.syutudai(window);
            shown.append({window.kankei, qsList(window.screen.mondai, window.screen.mondai + 2 * question::columns)});
            if (word.startsWith('h')) {
                window.en_Click(static_cast<std::int16_t>(word.mid(1, 1).toInt()));
                word = word.mid(2);
            }
            const int ticks = word == "t" ? question::fullPoints + 1 : word.mid(1).toInt();
            for (int i = 0; i < ticks; ++i)
                step = recorder.Timer1_Timer(window);
            if (word == "t")
                continue;
            const std::int16_t right = window.kankei == question::SquareProportional ? 4 : window.kankei;
            step = recorder.kotae_Click(window, word.startsWith('r') ? right : std::int16_t(right == 0 ? 1 : 0));
        }
    }
};

template <typename T>
const T* as(const std::variant<Replay, Refusal>& v)
{
    return std::get_if<T>(&v);
}

GameLog logOf(std::int16_t range, std::vector<gamelog::Answer> answers, int pace = question::tickMilliseconds)
{
    return {range, std::move(answers), pace};
}

} // namespace

Q_DECLARE_METATYPE(gamelog::GameLog)
Q_DECLARE_METATYPE(gamelog::Refusal)

class GameLogTest : public QObject {
    Q_OBJECT
private slots:
    void init() { Module1::reset(); }
    void playedGamesReplayAsPlayed_data();
    void playedGamesReplayAsPlayed();
    void logsHaveOneText_data();
    void logsHaveOneText();
    void malformedTextsRefused_data();
    void malformedTextsRefused();
    void forgedEntriesRefused_data();
    void forgedEntriesRefused();
    void roundTakesAnswersByTheServersClock_data();
    void roundTakesAnswersByTheServersClock();
};

void GameLogTest::playedGamesReplayAsPlayed_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<int>("range");
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<int>("score");
    QTest::addColumn<bool>("restarted"); // a game of another seed left after two questions first

    const QStringList mixed{"r0", "w3", "t", "r4", "r10"};
    for (int range = 0; range < rangeCount; ++range) {
        QTest::addRow("seed 1, range %d", range) << 1u << range << mixed << 16 << false;
        QTest::addRow("seed 4000000000, range %d", range) << 4000000000u << range << mixed << 16 << false;
        QTest::addRow("seed 77, range %d, all right", range)
            << 77u << range << QStringList{"r0", "r1", "r2", "r9", "r10"} << 28 << false;
    }
    QTest::newRow("all timed out") << 5u << 3 << QStringList{"t", "t", "t", "t", "t"} << 0 << false;
    QTest::newRow("all wrong") << 6u << 2 << QStringList{"w0", "w0", "w5", "w10", "w1"} << 0 << false;
    QTest::newRow("to random mid-game") << 9u << 1 << QStringList{"r2", "h3r0", "r1", "w0", "r0"} << 37 << false;
    QTest::newRow("from random mid-game") << 9u << 0 << QStringList{"h3r2", "h0r0", "r1", "t", "h1r5"} << 32 << false;
    QTest::newRow("restarted, random") << 12u << 3 << mixed << 16 << true;
    QTest::newRow("restarted, fixed") << 13u << 1 << mixed << 16 << true;
}

// Guards against a replay that draws otherwise than the window (the random row before the
// relation, a range other than the question's, a draw left over from a restarted game), points
// not those showing, a button judged otherwise, and a replay reading the shared range.
void GameLogTest::playedGamesReplayAsPlayed()
{
    QFETCH(uint, seed);
    QFETCH(int, range);
    QFETCH(QStringList, script);
    QFETCH(int, score);
    QFETCH(bool, restarted);
    Played played;
    if (restarted) {
        played.play(seed + 1, {"r0", "r0"});
        played.recorder.syutudai(played.window); // the third question stands at スタート
        QVERIFY(!played.recorder.log());
    }
    played.window.en_Click(static_cast<std::int16_t>(range));
    played.play(seed, script);
    QCOMPARE(int(Module1::tensu), score);
    QVERIFY(played.recorder.log());
    const GameLog log = *played.recorder.log();
    QCOMPARE(int(log.range), int(Module1::hani));

    Module1::hani = static_cast<std::int16_t>((Module1::hani + 1) % rangeCount);
    const std::variant<Replay, Refusal> checked = gamelog::checkEntry(seed, gamelog::write(log), score);
    QVERIFY2(as<Replay>(checked), as<Refusal>(checked) ? gamelog::refusalText(*as<Refusal>(checked)).data() : "");
    const Replay& replayed = *as<Replay>(checked);
    QCOMPARE(replayed.score, score);
    for (int q = 0; q < question::questionsPerGame; ++q) {
        const gamelog::ReplayedQuestion& r = replayed.questions[q];
        QCOMPARE(int(r.relation.kankei), played.shown[q].kankei);
        QStringList cells;
        for (const std::int16_t x : r.x)
            cells << qs(numtext::numberText(x));
        for (const std::int16_t x : r.x)
            cells << qs(question::yText(r.relation, x));
        QCOMPARE(cells, played.shown[q].cells);
        QCOMPARE(r.right, script[q] != "t" && script[q].contains('r'));
    }
}

void GameLogTest::logsHaveOneText_data()
{
    using gamelog::timedOut;
    QTest::addColumn<GameLog>("log");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << logOf(2, {{0, 10, 2}, {4, 7, 2}, {timedOut, 0, 2}, {2, 9, 2}, {1, 3, 2}})
                           << "1;2;0@10,4@7,t,2@9,1@3";
    QTest::newRow("a range changed, a pace")
        << logOf(3, {{timedOut, 0, 3}, {timedOut, 0, 3}, {1, 4, 0}, {0, 10, 3}, {2, 0, 1}}, 1500)
        << "1;3;t,t,1@4/0,0@10,2@0/1;1500";
    QTest::newRow("time-out drawn elsewhere, slowest pace")
        << logOf(0, {{timedOut, 0, 3}, {4, 0, 0}, {4, 0, 0}, {4, 0, 0}, {4, 0, 0}}, 60000)
        << "1;0;t/3,4@0,4@0,4@0,4@0;60000";
}

// Guards against a log written otherwise than it is read, and a range or pace that is lost.
void GameLogTest::logsHaveOneText()
{
    QFETCH(GameLog, log);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(gamelog::write(log)), text);
    const std::variant<GameLog, Refusal> parsed = gamelog::parse(text.toStdString());
    QVERIFY(std::holds_alternative<GameLog>(parsed));
    QVERIFY(std::get<GameLog>(parsed) == log);
}

void GameLogTest::malformedTextsRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Refusal>("reason");
    const QString five = "0@10,4@7,t,2@9,1@3";
    QTest::newRow("garbage") << "hello" << Refusal::Malformed;
    QTest::newRow("empty") << "" << Refusal::Malformed;
    QTest::newRow("trailing garbage") << "1;2;" + five + "x" << Refusal::Malformed;
    QTest::newRow("trailing separator") << "1;2;" + five + ";" << Refusal::Malformed;
    QTest::newRow("a fifth field") << "1;2;" + five + ";1500;1" << Refusal::Malformed;
    QTest::newRow("overlong") << "1;2;" + QString("t,").repeated(40) + "t" << Refusal::Malformed;
    QTest::newRow("blank") << "1;2;0@10, 4@7,t,2@9,1@3" << Refusal::Malformed;
    QTest::newRow("leading zero") << "1;2;0@010,4@7,t,2@9,1@3" << Refusal::Malformed;
    QTest::newRow("plus sign") << "1;2;+0@10,4@7,t,2@9,1@3" << Refusal::Malformed;
    QTest::newRow("range said twice") << "1;2;0@10/2,4@7,t,2@9,1@3" << Refusal::Malformed;
    QTest::newRow("usual pace written") << "1;2;" + five + ";2000" << Refusal::Malformed;
    QTest::newRow("time-out with points") << "1;2;0@10,4@7,t@3,2@9,1@3" << Refusal::Malformed;
    QTest::newRow("empty question") << "1;2;0@10,,t,2@9,1@3" << Refusal::Malformed;
    QTest::newRow("version 2") << "2;2;" + five << Refusal::UnknownVersion;
    QTest::newRow("version 0") << "0;2;" + five << Refusal::UnknownVersion;
    QTest::newRow("range 4") << "1;4;" + five << Refusal::NoSuchRange;
    QTest::newRow("question's range 65537") << "1;1;0@10/65537,4@7,t,2@9,1@3" << Refusal::NoSuchRange;
    QTest::newRow("four questions") << "1;2;0@10,4@7,t,2@9" << Refusal::QuestionCount;
    QTest::newRow("six questions") << "1;2;" + five + ",t" << Refusal::QuestionCount;
    QTest::newRow("hidden button") << "1;2;3@10,4@7,t,2@9,1@3" << Refusal::NoSuchButton;
    QTest::newRow("button 5") << "1;2;0@10,5@7,t,2@9,1@3" << Refusal::NoSuchButton;
    QTest::newRow("button -1") << "1;2;0@10,-1@0,t,2@9,1@3" << Refusal::NoSuchButton;
    QTest::newRow("points 11") << "1;2;0@10,4@11,t,2@9,1@3" << Refusal::PointsNotShown;
    QTest::newRow("points -1") << "1;2;0@10,4@-1,t,2@9,1@3" << Refusal::PointsNotShown;
    QTest::newRow("points 65546") << "1;2;0@65546,4@7,t,2@9,1@3" << Refusal::PointsNotShown;
    QTest::newRow("pace 0") << "1;2;" + five + ";0" << Refusal::PaceOutOfRange;
    QTest::newRow("pace 60001") << "1;2;" + five + ";60001" << Refusal::PaceOutOfRange;
}

// Guards against a text accepted that write never gives, and a refusal for another reason.
void GameLogTest::malformedTextsRefused()
{
    QFETCH(QString, text);
    QFETCH(Refusal, reason);
    const std::variant<GameLog, Refusal> parsed = gamelog::parse(text.toStdString());
    QVERIFY(std::holds_alternative<Refusal>(parsed));
    QCOMPARE(int(std::get<Refusal>(parsed)), int(reason));
    const std::variant<Replay, Refusal> entry = gamelog::checkEntry(1, text.toStdString(), 0);
    QVERIFY(as<Refusal>(entry) && *as<Refusal>(entry) == reason);
}

void GameLogTest::forgedEntriesRefused_data()
{
    QTest::addColumn<QString>("forgery");
    QTest::addColumn<int>("reason"); // -1: accepted
    QTest::newRow("honest") << "" << -1;
    QTest::newRow("four questions") << "drop" << int(Refusal::QuestionCount);
    QTest::newRow("six questions") << "add" << int(Refusal::QuestionCount);
    QTest::newRow("points 11") << "points 11" << int(Refusal::PointsNotShown);
    QTest::newRow("points -1") << "points -1" << int(Refusal::PointsNotShown);
    QTest::newRow("time-out with points") << "time-out 4" << int(Refusal::PointsNotShown);
    QTest::newRow("hidden button") << "button 3" << int(Refusal::NoSuchButton);
    QTest::newRow("range 4") << "range 4" << int(Refusal::NoSuchRange);
    QTest::newRow("another seed") << "seed" << int(Refusal::ScoreNotTheSum);
    QTest::newRow("claim one more") << "claim" << int(Refusal::ScoreNotTheSum);
    QTest::newRow("wrong button made right") << "right" << int(Refusal::ScoreNotTheSum);
}

// Guards against an entry accepted whose log no countdown or button gives, or whose score the
// replay of its own seed does not give.
void GameLogTest::forgedEntriesRefused()
{
    QFETCH(QString, forgery);
    QFETCH(int, reason);
    Played played;
    played.window.en_Click(3);
    played.play(2024, {"r2", "w0", "t", "r5", "r0"});
    QVERIFY(played.recorder.log());
    GameLog log = *played.recorder.log();
    std::uint32_t seed = 2024;
    int claim = Module1::tensu;
    if (forgery == "drop")
        log.answers.pop_back();
    else if (forgery == "add")
        log.answers.push_back(log.answers.front());
    else if (forgery.startsWith("points"))
        log.answers[0].points = static_cast<std::int16_t>(forgery.mid(7).toInt());
    else if (forgery == "time-out 4")
        log.answers[2].points = 4;
    else if (forgery == "button 3")
        log.answers[1].button = 3;
    else if (forgery == "range 4")
        log.range = 4;
    else if (forgery == "seed")
        seed = 2025;
    else if (forgery == "claim")
        ++claim;
    else if (forgery == "right")
        log.answers[1].button = static_cast<std::int16_t>(played.shown[1].kankei == 3 ? 4 : played.shown[1].kankei);
    const std::variant<Replay, Refusal> entry = gamelog::checkEntry(seed, log, claim);
    if (reason < 0) {
        QVERIFY(as<Replay>(entry));
        QCOMPARE(as<Replay>(entry)->score, 23);
    } else {
        QVERIFY(as<Refusal>(entry));
        QCOMPARE(int(*as<Refusal>(entry)), reason);
    }
}

// Guards against a round scoring by anything but the server's clock: a late answer scoring, an
// early one (before its question showed) counting, a device's delay allowed beyond what was
// measured or beyond the cap, the countdown's points off by a tick, a hidden button counting.
// Question q of a round starting at 1,000,000 shows at 1,000,000 + 25,000 q at the designed pace
// (22 s of countdown, then 3 s of pause).
void GameLogTest::roundTakesAnswersByTheServersClock_data()
{
    QTest::addColumn<int>("tick");
    QTest::addColumn<int>("q");
    QTest::addColumn<int>("button");
    QTest::addColumn<qint64>("received");
    QTest::addColumn<QList<qint64>>("roundTrips");
    QTest::addColumn<int>("points"); // -1: does not count
    const auto row = [](const char* name, int tick, int q, int button, qint64 received, QList<qint64> trips,
                        int points) { QTest::newRow(name) << tick << q << button << received << trips << points; };
    row("at once", 2000, 0, 1, 1'000'000, {}, 10);
    row("just before the first tick", 2000, 0, 1, 1'001'999, {}, 10);
    row("at the first tick", 2000, 0, 2, 1'002'000, {}, 9);
    row("the last point", 2000, 0, 0, 1'021'999, {}, 0);
    row("at the time-out", 2000, 0, 0, 1'022'000, {}, -1);
    row("in the pause", 2000, 1, 0, 1'024'000, {}, -1);
    row("before its question showed", 2000, 1, 0, 1'024'999, {}, -1);
    row("the third question at once", 2000, 2, 4, 1'050'000, {}, 10);
    row("sent in time from a slow network", 2000, 2, 4, 1'054'100, {600, 700}, 9);
    row("the same without a measured delay", 2000, 2, 4, 1'054'100, {}, 8);
    row("received after the end, sent before", 2000, 4, 1, 1'122'200, {600}, 0);
    row("a delay longer than any allowed", 2000, 0, 1, 1'005'500, {5000}, 8);
    row("a delay never below the question's start", 2000, 3, 1, 1'075'200, {2000}, 10);
    row("a teacher's pace", 1500, 1, 1, 1'019'500 + 3'000, {}, 8);
    row("at the time-out at that pace", 1500, 0, 1, 1'016'500, {}, -1);
    row("the hidden button", 2000, 0, 3, 1'000'000, {}, -1);
    row("no such button", 2000, 0, 5, 1'000'000, {}, -1);
    row("a sixth question", 2000, 5, 1, 1'125'000, {}, -1);
}

void GameLogTest::roundTakesAnswersByTheServersClock()
{
    QFETCH(int, tick);
    QFETCH(int, q);
    QFETCH(int, button);
    QFETCH(qint64, received);
    QFETCH(QList<qint64>, roundTrips);
    QFETCH(int, points);
    const classround::Schedule schedule{1'000'000, tick};
    const int allowed = classround::allowance({roundTrips.begin(), roundTrips.end()});
    const classround::Taken taken = classround::take(schedule, q, 2, std::int16_t(button), received, allowed);
    QCOMPARE(taken.counted, points >= 0);
    QCOMPARE(taken.answer.button, points >= 0 ? button : gamelog::timedOut);
    QCOMPARE(taken.answer.points, std::int16_t(std::max(points, 0)));
    QCOMPARE(taken.answer.range, std::int16_t(2));
    if (roundTrips.isEmpty()) // an answer taken as received counts while its question stands
        QCOMPARE(classround::questionAt(schedule, received) == q, points >= 0 || !gamelog::isButton(button));
}

QTEST_MAIN(GameLogTest)
#include "tst_gamelog.moc"

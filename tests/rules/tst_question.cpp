// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/question.h"
#include "support/text.h"
#include "support/draws.h"

#include <QTest>

#include <deque>

using question::Relation;

namespace {

// Hands out the scripted draws and counts them.
struct Script {
    std::deque<double> draws;
    int taken = 0;
    question::Draw draw()
    {
        return [this] {
            ++taken;
            return nextDraw(draws);
        };
    }
};

} // namespace

using DrawList = QList<double>;
using Ints = QList<int>;

class QuestionTest : public QObject {
    Q_OBJECT
private slots:
    void drawsKindAndCoefficientsInOrder_data();
    void drawsKindAndCoefficientsInOrder();
    void drawsNeverReachOneOrLeaveTheirRanges();
    void kindFrequenciesFollowTheTenSlots();
    void randomRowFollowsItsKind_data();
    void randomRowFollowsItsKind();
    void questionDrawsItsRelationBeforeItsRow_data();
    void questionDrawsItsRelationBeforeItsRow();
    void yTextsFollowTheRelation_data();
    void yTextsFollowTheRelation();
    void judgesEveryButtonForEveryKind_data();
    void judgesEveryButtonForEveryKind();
};

void QuestionTest::drawsKindAndCoefficientsInOrder_data()
{
    QTest::addColumn<DrawList>("draws");
    QTest::addColumn<QList<int>>("drawn"); // kankei, a, b, c

    // Earlier coefficients are 7, 8, 9: a kind keeps those it does not use.
    QTest::newRow("proportional, lowest slot") << DrawList{drawFor(0, 10), drawFor(6, 9)} << Ints{0, 2, 8, 9};
    QTest::newRow("proportional, zero redrawn")
        << DrawList{drawFor(2, 10), drawFor(4, 9), drawFor(4, 9), drawFor(0, 9)} << Ints{0, -4, 8, 9};
    QTest::newRow("inverse, positive") << DrawList{drawFor(3, 10), drawFor(1, 3), 0.5} << Ints{1, 12, 8, 9};
    QTest::newRow("inverse, sign below one half")
        << DrawList{drawFor(5, 10), drawFor(2, 3), 0.49} << Ints{1, -18, 8, 9};
    QTest::newRow("inverse, smallest magnitude") << DrawList{drawFor(4, 10), 0.0, 0.99} << Ints{1, 6, 8, 9};
    QTest::newRow("linear, b zero redrawn")
        << DrawList{drawFor(6, 10), drawFor(8, 9), drawFor(4, 9), drawFor(3, 9)} << Ints{2, 4, -1, 9};
    QTest::newRow("linear, a zero redrawn")
        << DrawList{drawFor(8, 10), drawFor(4, 9), drawFor(5, 9), drawFor(0, 9)} << Ints{2, 1, -4, 9};
    QTest::newRow("slot 9, square") << DrawList{drawFor(9, 10), 0.2, drawFor(0, 7)} << Ints{3, -3, 8, 9};
    QTest::newRow("square, zero redrawn")
        << DrawList{drawFor(9, 10), 0.0, drawFor(3, 7), drawFor(3, 7), drawFor(6, 7)} << Ints{3, 3, 8, 9};
    QTest::newRow("slot 9, quadratic with c zero")
        << DrawList{drawFor(9, 10), 0.7, drawFor(5, 9), drawFor(2, 9), drawFor(4, 9)} << Ints{4, 1, -2, 0};
    QTest::newRow("quadratic, b zero redrawn, c drawn once")
        << DrawList{0.999, 0.5, drawFor(0, 9), drawFor(4, 9), drawFor(8, 9), drawFor(1, 9)} << Ints{4, -4, 4, -3};
}

// Guards against draws taken in another order, zero coefficients kept, or extra draws.
void QuestionTest::drawsKindAndCoefficientsInOrder()
{
    QFETCH(DrawList, draws);
    QFETCH(QList<int>, drawn);

    Script script{{draws.begin(), draws.end()}};
    const Relation r = question::drawRelation(script.draw(), Relation{0, 7, 8, 9});
    QCOMPARE((Ints{r.kankei, r.a, r.b, r.c}), drawn);
    QCOMPARE(script.taken, draws.size());
}

// Guards against coefficients leaving their ranges at the ends of [0, 1).
void QuestionTest::drawsNeverReachOneOrLeaveTheirRanges()
{
    const double edges[] = {0.0, 0.1, 0.5, 0.9, std::nextafter(1.0, 0.0)};
    for (double first : edges) {
        for (double rest : edges) {
            int calls = 0;
            const question::Draw draw = [&] {
                // A script that would redraw forever is broken off with a non-zero value.
                return ++calls == 1 ? first : (calls > 50 ? 0.0 : rest);
            };
            const Relation r = question::drawRelation(draw, {});
            QVERIFY(r.kankei >= 0 && r.kankei <= 4);
            QVERIFY(r.a != 0);
            switch (r.kankei) {
            case 0:
            case 2:
            case 4: QVERIFY(r.a >= -4 && r.a <= 4); break;
            case 1: QVERIFY(r.a == 6 || r.a == 12 || r.a == 18 || r.a == -6 || r.a == -12 || r.a == -18); break;
            case 3: QVERIFY(r.a >= -3 && r.a <= 3); break;
            }
            if (r.kankei == 2 || r.kankei == 4)
                QVERIFY(r.b != 0 && r.b >= -4 && r.b <= 4);
            if (r.kankei == 4)
                QVERIFY(r.c >= -4 && r.c <= 4);
        }
    }
}

// Guards against the kinds being weighted wrongly: slots 0-2, 3-5, 6-8, then 9 split in two.
void QuestionTest::kindFrequenciesFollowTheTenSlots()
{
    QList<int> counts(5, 0);
    for (int slot = 0; slot < 10; ++slot) {
        for (double split : {0.45, 0.55}) { // either side of the middle of slot 9's split
            // The kind's slot, the split of slot 9, then any later coefficient draw.
            const question::Draw draw = [&, calls = 0]() mutable {
                return ++calls == 1 ? drawFor(slot, 10) : calls == 2 ? split : 0.999;
            };
            const int kind = question::drawRelation(draw, {}).kankei;
            QVERIFY(kind >= 0 && kind < 5);
            ++counts[kind];
        }
    }
    QCOMPARE(counts, (QList<int>{6, 6, 6, 1, 1}));
}

void QuestionTest::randomRowFollowsItsKind_data()
{
    QTest::addColumn<int>("kankei");
    QTest::addColumn<DrawList>("draws");
    QTest::addColumn<QList<int>>("row");
    QTest::newRow("inverse: fixed row, no draws") << 1 << DrawList{} << Ints{-4, -1, 3, 5, 6};
    QTest::newRow("lowest start, smallest steps") << 0 << DrawList{0.0, 0.0, 0.0, 0.0, 0.0} << Ints{-7, -6, -5, -4, -3};
    QTest::newRow("highest start, largest steps")
        << 2 << DrawList{0.99, 0.99, 0.99, 0.99, 0.99} << Ints{1, 4, 7, 10, 13};
    QTest::newRow("crossing zero") << 4 << DrawList{drawFor(5, 9), drawFor(1, 3), 0.0, drawFor(2, 3), 0.5}
                                   << Ints{-2, 0, 1, 4, 6};
}

// Guards against 0 being offered to an inverse proportion, or steps outside 1..3.
void QuestionTest::randomRowFollowsItsKind()
{
    QFETCH(int, kankei);
    QFETCH(DrawList, draws);
    QFETCH(QList<int>, row);
    Script script{{draws.begin(), draws.end()}};
    std::int16_t values[question::columns] = {};
    question::fillRandomRow(static_cast<std::int16_t>(kankei), script.draw(), values);
    QCOMPARE(QList<int>(values, values + question::columns), row);
    QCOMPARE(script.taken, draws.size());
}

void QuestionTest::questionDrawsItsRelationBeforeItsRow_data()
{
    QTest::addColumn<int>("hani");
    QTest::addColumn<DrawList>("draws");
    QTest::addColumn<QList<int>>("shown"); // kankei, a, then the x values shown
    QTest::newRow("random: y = 2x, then its row")
        << 3 << DrawList{drawFor(0, 10), drawFor(6, 9), 0.0, 0.0, 0.0, 0.0, 0.0} << Ints{0, 2, -7, -6, -5, -4, -3};
    QTest::newRow("random: inverse, its fixed row")
        << 3 << DrawList{drawFor(3, 10), drawFor(0, 3), 0.9} << Ints{1, 6, -4, -1, 3, 5, 6};
    QTest::newRow("fixed 1..5: no row drawn")
        << 1 << DrawList{drawFor(0, 10), drawFor(6, 9)} << Ints{0, 2, 1, 2, 3, 4, 5};
}

// Guards against the random row drawn before the relation (for the kind before it), a row
// drawn in a fixed range, or a draw too many: a replay of a logged game draws as the window.
void QuestionTest::questionDrawsItsRelationBeforeItsRow()
{
    QFETCH(int, hani);
    QFETCH(DrawList, draws);
    QFETCH(QList<int>, shown);
    Script script{{draws.begin(), draws.end()}};
    std::int16_t xatai[rangeCount][question::columns] = {};
    question::fillFixedRows(xatai);
    const Relation r = question::drawQuestion(script.draw(), static_cast<std::int16_t>(hani), {}, xatai);
    QCOMPARE((Ints{r.kankei, r.a} + QList<int>(xatai[hani], xatai[hani] + question::columns)), shown);
    QCOMPARE(script.taken, draws.size());
}

void QuestionTest::yTextsFollowTheRelation_data()
{
    QTest::addColumn<QList<int>>("relation"); // kankei, a, b, c
    QTest::addColumn<QList<int>>("xs");
    QTest::addColumn<QStringList>("ys");
    const QList<int> range0{-2, -1, 0, 1, 2};
    const QList<int> range1{1, 2, 3, 4, 5};
    QTest::newRow("proportional") << Ints{0, -3, 0, 0} << range0 << QStringList{" 6", " 3", " 0", "-3", "-6"};
    QTest::newRow("inverse, cross under zero")
        << Ints{1, 6, 0, 0} << range0 << QStringList{"-3", "-6", " ×", " 6", " 3"};
    QTest::newRow("inverse, decimals") << Ints{1, -12, 0, 0} << range1 << QStringList{"-12", "-6", "-4", "-3", "-2.4"};
    QTest::newRow("inverse, random range")
        << Ints{1, 18, 0, 0} << Ints{-4, -1, 3, 5, 6} << QStringList{"-4.5", "-18", " 6", " 3.6", " 3"};
    QTest::newRow("linear") << Ints{2, 2, -3, 0} << range1 << QStringList{"-1", " 1", " 3", " 5", " 7"};
    QTest::newRow("square") << Ints{3, -2, 0, 0} << range0 << QStringList{"-8", "-2", " 0", "-2", "-8"};
    QTest::newRow("quadratic with c zero") << Ints{4, 2, -3, 0} << range0 << QStringList{" 14", " 5", " 0", "-1", " 2"};
    QTest::newRow("quadratic, largest values")
        << Ints{4, -4, -4, -4} << Ints{9, 10, 11, 12, 13} << QStringList{"-364", "-444", "-532", "-628", "-732"};
}

// Guards against wrong y values, a division by zero under x = 0, or missing sign blanks.
void QuestionTest::yTextsFollowTheRelation()
{
    QFETCH(QList<int>, relation);
    QFETCH(QList<int>, xs);
    QFETCH(QStringList, ys);
    const Relation r{std::int16_t(relation[0]), std::int16_t(relation[1]), std::int16_t(relation[2]),
                     std::int16_t(relation[3])};
    for (int i = 0; i < xs.size(); ++i)
        QCOMPARE(qs(question::yText(r, static_cast<std::int16_t>(xs[i]))), ys[i]);
}

void QuestionTest::judgesEveryButtonForEveryKind_data()
{
    QTest::addColumn<int>("kankei");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("right");
    // The square proportion's own button (3) is never shown: button 4 answers it.
    const int rightButton[] = {0, 1, 2, 4, 4};
    for (int kind = 0; kind < 5; ++kind)
        for (int button = 0; button < 5; ++button)
            QTest::addRow("kind %d, button %d", kind, button) << kind << button << (button == rightButton[kind]);
}

// Guards against a kind being judged by the wrong button, above all the hidden square button.
void QuestionTest::judgesEveryButtonForEveryKind()
{
    QFETCH(int, kankei);
    QFETCH(int, button);
    QFETCH(bool, right);
    if (kankei == 3 && button == 3)
        QSKIP("button 3 is never visible, so never clicked");
    QCOMPARE(question::isRightAnswer(static_cast<std::int16_t>(kankei), static_cast<std::int16_t>(button)), right);
}

QTEST_APPLESS_MAIN(QuestionTest)
#include "tst_question.moc"

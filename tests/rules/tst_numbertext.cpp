// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/number_text.h"
#include "support/text.h"

#include <QTest>

#include <charconv>
#include <clocale>
#include <cmath>
#include <random>

class NumberTextTest : public QObject {
    Q_OBJECT
private slots:
    void writesSignPositionAndShortestDecimals_data();
    void writesSignPositionAndShortestDecimals();
    void readsCaptionsBackAsNumbers_data();
    void readsCaptionsBackAsNumbers();
    void plainFormatHasNoBlank();
    void digitsAreTheShortestThatReadBack();
};

void NumberTextTest::writesSignPositionAndShortestDecimals_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("positive") << 5.0 << " 5";
    QTest::newRow("zero") << 0.0 << " 0";
    QTest::newRow("negative zero") << -0.0 << " 0";
    QTest::newRow("two digits") << 17.0 << " 17";
    QTest::newRow("largest table value") << -732.0 << "-732";
    // Every quotient a / x that an inverse proportion can show.
    const double quotients[] = {1, 1.2, 1.5, 2, 2.4, 3, 3.6, 4, 4.5, 6, 9, 12, 18};
    for (double q : quotients) {
        const QString digits = QString::number(q, 'g', 6);
        QTest::addRow("quotient %s", qPrintable(digits)) << q << " " + digits;
        QTest::addRow("quotient -%s", qPrintable(digits)) << -q << "-" + digits;
    }
}

// Guards against a missing sign blank, a blank after "-", or binary noise such as "2.4000000000000004".
void NumberTextTest::writesSignPositionAndShortestDecimals()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(qs(numtext::numberText(value)), text);
}

void NumberTextTest::readsCaptionsBackAsNumbers_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("value");
    QTest::newRow("two-character points") << "10" << 10;
    QTest::newRow("blank then digit") << " 9" << 9;
    QTest::newRow("running total") << " 47" << 47;
    QTest::newRow("several blanks") << "   3" << 3;
    QTest::newRow("negative") << "-12" << -12;
    QTest::newRow("design caption") << "得点" << 0;
    QTest::newRow("digits then text") << " 5点" << 5;
    QTest::newRow("empty") << "" << 0;
}

// Guards against the total being lost when a caption with a leading blank is read back.
void NumberTextTest::readsCaptionsBackAsNumbers()
{
    QFETCH(QString, caption);
    QFETCH(int, value);
    QCOMPARE(numtext::readNumber(u16(caption)), value);
}

// Guards against list scores picking up the sign blank meant for other captions.
void NumberTextTest::plainFormatHasNoBlank()
{
    QCOMPARE(qs(numtext::plainText(0)), QStringLiteral("0"));
    QCOMPARE(qs(numtext::plainText(35)), QStringLiteral("35"));
    QCOMPARE(qs(numtext::plainText(-2)), QStringLiteral("-2"));
}

// Guards against digits that differ from the shortest form that reads back (what the desktop
// showed before, and what every platform must show alike), and against a locale's decimal comma.
void NumberTextTest::digitsAreTheShortestThatReadBack()
{
    const char* const locale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    std::mt19937_64 random(932);
    std::uniform_int_distribution<int> coefficient(-400, 400), divisor(1, 60), exponent(-30, 30);
    for (int i = 0; i < 20000; ++i) {
        double value = double(coefficient(random)) / divisor(random);
        if (i % 4 == 0)
            value *= std::pow(10.0, exponent(random));
        char digits[64];
        const auto end = std::to_chars(digits, digits + sizeof digits, std::fabs(value)).ptr;
        const QString expected = QString(value < 0 ? "-" : " ") + QLatin1String(digits, end - digits);
        QCOMPARE(qs(numtext::numberText(value)), expected);
    }
    if (locale)
        std::setlocale(LC_NUMERIC, "C");
}

QTEST_APPLESS_MAIN(NumberTextTest)
#include "tst_numbertext.moc"

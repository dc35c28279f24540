// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/number_text.h"

#include <QTest>

class NumberTextTest : public QObject {
    Q_OBJECT
private slots:
    void writesSignPositionAndShortestDecimals_data();
    void writesSignPositionAndShortestDecimals();
    void readsCaptionsBackAsNumbers_data();
    void readsCaptionsBackAsNumbers();
    void plainFormatHasNoBlank();
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
    QCOMPARE(numtext::numberText(value), text);
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
    QCOMPARE(numtext::readNumber(caption), value);
}

// Guards against list scores picking up the sign blank meant for other captions.
void NumberTextTest::plainFormatHasNoBlank()
{
    QCOMPARE(numtext::plainText(0), QStringLiteral("0"));
    QCOMPARE(numtext::plainText(35), QStringLiteral("35"));
    QCOMPARE(numtext::plainText(-2), QStringLiteral("-2"));
}

QTEST_APPLESS_MAIN(NumberTextTest)
#include "tst_numbertext.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The code page 932 tables made from iconv, against ICU's "windows-31j" (through Qt Core) as
// a second opinion: every single byte, every lead byte with every second byte, and every
// character of the Basic Multilingual Plane. Each difference is listed.
#include "rules/cp932.h"
#include "rules/ranking.h"
#include "support/text.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

namespace {

const char* const icuName = "windows-31j";

QString hex(unsigned value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

// The one UTF-16 unit that ICU reads the bytes as, or 0 when they are no single character.
char16_t icuDecode(const QByteArray& bytes)
{
    QStringDecoder decoder(icuName, QStringConverter::Flag::Stateless);
    const QString text = decoder(bytes);
    return decoder.hasError() || text.size() != 1 ? 0 : text[0].unicode();
}

// ICU's bytes for one character, or none when it has none.
QByteArray icuEncode(char16_t c)
{
    QStringEncoder encoder(icuName, QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder(QString(QChar(c)));
    return encoder.hasError() ? QByteArray() : bytes;
}

QString character(char16_t c)
{
    return c ? QStringLiteral("U+") + hex(c, 4) : QStringLiteral("none");
}

// Where the tables follow Windows and glibc and ICU (IBM's table for code page 943) does not,
// as rules/cp932.h tells.
const QStringList knownDifferences = {
    // ICU exchanges three control codes.
    QStringLiteral("1A: U+001A, ICU U+001C"),
    QStringLiteral("1C: U+001C, ICU U+007F"),
    QStringLiteral("7F: U+007F, ICU U+001A"),
    QStringLiteral("U+001A: 1a, ICU 7f"),
    QStringLiteral("U+001C: 1c, ICU 1a"),
    QStringLiteral("U+007F: 7f, ICU 1c"),
    // A private-use character that ICU alone writes, as the bytes of "№".
    QStringLiteral("U+F86F: , ICU 8782"),
};

// Fails listing the first differences that are not known, and how many there are in all.
void reportDifferences(const QStringList& differences)
{
    QStringList unknown;
    for (const QString& difference : differences)
        if (!knownDifferences.contains(difference))
            unknown << difference;
    QVERIFY2(unknown.isEmpty(), qPrintable(QStringLiteral("%1 differences from ICU: %2")
                                               .arg(unknown.size())
                                               .arg(unknown.mid(0, 40).join(QStringLiteral("; ")))));
}

} // namespace

class Cp932Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QStringDecoder(icuName).isValid() || !QStringEncoder(icuName).isValid())
            QSKIP("this Qt has no ICU windows-31j");
    }

    // Guards against a table that reads a single byte other than ICU does, that takes a lead
    // byte on its own for a character, whose double-byte characters differ from ICU's, or that
    // reads an unassigned pair as a character, or a lead byte with a byte that cannot follow it;
    // and against a name stored in other bytes than ICU's windows-31j writes, or a character
    // dropped to "?" that ICU can store.
    void tablesAgreeWithIcu();

    // Guards against the five bytes that Windows reads as U+0080 and U+F8F0 to U+F8F3 being
    // read as those characters (or dropped), written for those characters, or lost from an
    // entry the player left alone.
    void bytesWindowsAloneReadsStayNoCharacter_data();
    void bytesWindowsAloneReadsStayNoCharacter();
};

void Cp932Test::tablesAgreeWithIcu()
{
    QStringList differences;
    for (unsigned b = 0; b < 0x100; ++b) {
        const char16_t ours = cp932::decode(static_cast<unsigned char>(b));
        const char16_t icu = icuDecode(QByteArray(1, char(b)));
        if (ours != icu)
            differences << hex(b, 2) + QStringLiteral(": ") + character(ours) + QStringLiteral(", ICU ")
                               + character(icu);
    }
    int characters = 0;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!cp932::isLeadByte(static_cast<unsigned char>(lead)))
            continue;
        for (unsigned trail = 0; trail < 0x100; ++trail) {
            const char16_t ours = cp932::decode(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail));
            const char pair[] = {char(lead), char(trail)};
            const char16_t icu = icuDecode(QByteArray(pair, 2));
            characters += ours != 0;
            if (ours != icu)
                differences << hex(lead << 8 | trail, 4) + QStringLiteral(": ") + character(ours)
                                   + QStringLiteral(", ICU ") + character(icu);
        }
    }
    // JIS X 0208 with the NEC and IBM extensions and the user-defined area: a table cut short
    // would agree with ICU only where both have nothing.
    QVERIFY2(characters > 9000, qPrintable(QString::number(characters)));
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const QByteArray ours = qb(cp932::encode(c));
        const QByteArray icu = icuEncode(static_cast<char16_t>(c));
        if (ours != icu)
            differences << QStringLiteral("U+") + hex(c, 4) + QStringLiteral(": ") + QString::fromLatin1(ours.toHex())
                               + QStringLiteral(", ICU ") + QString::fromLatin1(icu.toHex());
    }
    reportDifferences(differences);
}

void Cp932Test::bytesWindowsAloneReadsStayNoCharacter_data()
{
    QTest::addColumn<char>("byte");
    QTest::addColumn<char16_t>("windows"); // what Windows reads the byte as

    QTest::newRow("80") << '\x80' << u'\u0080';
    QTest::newRow("A0") << '\xA0' << u'\uF8F0';
    QTest::newRow("FD") << '\xFD' << u'\uF8F1';
    QTest::newRow("FE") << '\xFE' << u'\uF8F2';
    QTest::newRow("FF") << '\xFF' << u'\uF8F3';
}

void Cp932Test::bytesWindowsAloneReadsStayNoCharacter()
{
    QFETCH(char, byte);
    QFETCH(char16_t, windows);

    const std::string field = std::string("A") + byte + "B       ";
    QCOMPARE(qs(results::decodeName(field)), QStringLiteral("A\uFFFDB"));
    QCOMPARE(qb(results::encodeName(std::u16string(1, windows))), QByteArray("?         "));

    results::BestFiveLists lists;
    lists.stored[3] = field;
    lists.seisekinamae[3] = results::decodeName(field);
    QCOMPARE(qb(lists.nameField(3)).toHex(' '), qb(field).toHex(' '));
}

QTEST_APPLESS_MAIN(Cp932Test)
#include "tst_cp932.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of the rankings without files or windows: name fields, records, entering scores.
#include "rules/ranking.h"
#include "support/ranking_bytes.h"
#include "support/text.h"

#include <QTest>

#include <algorithm>
#include <numeric>

using results::BestFiveLists;

namespace {

QByteArray hex(const char* digits)
{
    return QByteArray::fromHex(digits);
}

} // namespace

class RankingTest : public QObject {
    Q_OBJECT

private slots:
    // Guards against cutting a name in the middle of a double-byte character, overflowing the
    // 10-byte field, losing a name to an unmappable character, or using a code page other than
    // 932, and against padding read as part of the name, and invalid bytes dropped or taken for
    // text.
    void nameFieldHoldsWholeCharactersInTenBytes_data();
    void nameFieldHoldsWholeCharactersInTenBytes();

    // Guards against a score stored big-endian, unsigned, or in the wrong bytes of the record.
    void recordKeepsSignedLittleEndianScore_data();
    void recordKeepsSignedLittleEndianScore();

    // Guards against rewriting an entry the player left alone, which would lose invalid bytes
    // or NUL padding written by another program.
    void untouchedEntryKeepsItsBytes_data();
    void untouchedEntryKeepsItsBytes();

    // Guards against a new score placed below equal ones, the wrong place dropped, names not
    // moving with their scores, or another range's entries disturbed.
    void newScoreTakesFirstPlaceNotAboveIt_data();
    void newScoreTakesFirstPlaceNotAboveIt();

    // Guards against the same faults in the three places of the run ranking.
    void runRankingKeepsBestThree_data();
    void runRankingKeepsBestThree();

    // Guards against a viewing opening or a score already turned away entering the lists, and
    // against a score short of the best five lost from the run's three or entered again later.
    void scoreEntersOnlyWhenItCounts_data();
    void scoreEntersOnlyWhenItCounts();

    // Guards against Save or Blank writing more or fewer records than theirs, reading records
    // past 21, changing record 21, or dropping or moving what follows their records.
    void saveAndBlankWriteTheirRecordsOverTheFile_data();
    void saveAndBlankWriteTheirRecordsOverTheFile();
};

void RankingTest::nameFieldHoldsWholeCharactersInTenBytes_data()
{
    QTest::addColumn<QString>("name"); // null: a field in the file, only read back
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("readBack");

    QTest::newRow("empty name is ten spaces") << QStringLiteral("") << QByteArray(10, ' ') << QString();
    QTest::newRow("10 ASCII letters stored whole")
        << QStringLiteral("ABCDEFGHIJ") << QByteArray("ABCDEFGHIJ") << QStringLiteral("ABCDEFGHIJ");
    QTest::newRow("11 ASCII letters lose the last")
        << QStringLiteral("ABCDEFGHIJK") << QByteArray("ABCDEFGHIJ") << QStringLiteral("ABCDEFGHIJ");
    QTest::newRow("five double-byte characters fill the field")
        << QStringLiteral("あいうえお") << hex("82a082a282a482a682a8") << QStringLiteral("あいうえお");
    QTest::newRow("sixth double-byte character dropped")
        << QStringLiteral("あいうえおか") << hex("82a082a282a482a682a8") << QStringLiteral("あいうえお");
    QTest::newRow("no half of a double-byte character at the end")
        << QStringLiteral("aあいうえお") << hex("6182a082a282a482a620") << QStringLiteral("aあいうえ");
    QTest::newRow("kanji name padded with spaces")
        << QStringLiteral("山田") << hex("8e529363202020202020") << QStringLiteral("山田");
    QTest::newRow("half-width katakana take one byte each")
        << QStringLiteral("ｱｲｳ") << hex("b1b2b320202020202020") << QStringLiteral("ｱｲｳ");
    QTest::newRow("code page 932 extension character")
        << QStringLiteral("①") << hex("87402020202020202020") << QStringLiteral("①");
    QTest::newRow("emoji stored as ?") << QStringLiteral("😀x") << QByteArray("?x        ") << QStringLiteral("?x");
    QTest::newRow("accented letter stored as ?")
        << QStringLiteral("José") << QByteArray("Jos?      ") << QStringLiteral("Jos?");
    QTest::newRow("wave dash from an input method kept as tilde")
        << QStringLiteral("a〜b") << hex("61816062202020202020") << QStringLiteral("a～b");
    QTest::newRow("trailing spaces") << QString() << QByteArray("Taro      ") << QStringLiteral("Taro");
    QTest::newRow("trailing NUL bytes") << QString() << QByteArray("Taro\0\0\0\0\0\0", 10) << QStringLiteral("Taro");
    QTest::newRow("spaces and NULs mixed") << QString() << QByteArray("Taro \0 \0  ", 10) << QStringLiteral("Taro");
    QTest::newRow("leading spaces are part of the name")
        << QString() << QByteArray("  Taro    ") << QStringLiteral("  Taro");
    QTest::newRow("all padding") << QString() << QByteArray("\0\0\0\0\0     ", 10) << QString();
    QTest::newRow("full-width space is not padding")
        << QString() << hex("8e529363814020202020") << QStringLiteral("山田　");
    QTest::newRow("lead byte before a space")
        << QString() << QByteArray("\x81 AB      ") << QStringLiteral("\uFFFD AB");
    QTest::newRow("lead byte cut off at the end")
        << QString() << QByteArray("ABCDEFGHI\x82") << QStringLiteral("ABCDEFGHI\uFFFD");
    QTest::newRow("bytes that are no character")
        << QString() << QByteArray("\xFF\xA0\x80       ") << QStringLiteral("\uFFFD\uFFFD\uFFFD");
    QTest::newRow("a real control character stays")
        << QString() << QByteArray("A\x1A        ") << QStringLiteral("A\x1A");
}

void RankingTest::nameFieldHoldsWholeCharactersInTenBytes()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, field);
    QFETCH(QString, readBack);

    if (!name.isNull())
        QCOMPARE(qb(results::encodeName(u16(name))).toHex(' '), field.toHex(' '));
    QCOMPARE(qs(results::decodeName(sb(field))), readBack);
}

void RankingTest::recordKeepsSignedLittleEndianScore_data()
{
    QTest::addColumn<int>("score");
    QTest::addColumn<QByteArray>("scoreBytes");

    QTest::newRow("50") << 50 << hex("3200");
    QTest::newRow("258 low byte first") << 258 << hex("0201");
    QTest::newRow("-1") << -1 << hex("ffff");
    QTest::newRow("most negative") << -32768 << hex("0080");
    QTest::newRow("most positive") << 32767 << hex("ff7f");
}

void RankingTest::recordKeepsSignedLittleEndianScore()
{
    QFETCH(int, score);
    QFETCH(QByteArray, scoreBytes);

    const QByteArray name("Hanako    ");
    const QByteArray bytes = qb(results::packRecord({sb(name), static_cast<std::int16_t>(score)}));
    QCOMPARE(bytes.toHex(' '), (name + scoreBytes).toHex(' '));

    const Module1::seiseki back = results::unpackRecord(sb(name + scoreBytes));
    QCOMPARE(int(back.kiroku), score);
    QCOMPARE(qb(back.simei), name);
}

void RankingTest::untouchedEntryKeepsItsBytes_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("typed"); // a null string: the player left the entry alone
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("invalid bytes kept") << QByteArray("\xFF\x81 AB     ") << QString()
                                        << QByteArray("\xFF\x81 AB     ");
    QTest::newRow("NUL padding kept") << QByteArray("Taro\0\0\0\0\0\0", 10) << QString()
                                      << QByteArray("Taro\0\0\0\0\0\0", 10);
    QTest::newRow("changed name encoded afresh")
        << QByteArray("Taro\0\0\0\0\0\0", 10) << QStringLiteral("Jiro") << QByteArray("Jiro      ");
    QTest::newRow("new entry without a field") << QByteArray() << QStringLiteral("") << QByteArray("          ");
}

void RankingTest::untouchedEntryKeepsItsBytes()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, typed);
    QFETCH(QByteArray, written);

    BestFiveLists lists;
    lists.stored[7] = sb(stored);
    lists.seisekinamae[7] = typed.isNull() ? results::decodeName(sb(stored)) : u16(typed);
    QCOMPARE(qb(lists.nameField(7)).toHex(' '), written.toHex(' '));
}

void RankingTest::newScoreTakesFirstPlaceNotAboveIt_data()
{
    QTest::addColumn<QList<int>>("before");
    QTest::addColumn<int>("tensu");
    QTest::addColumn<int>("place"); // 0..4, or -1 when the score misses the list
    QTest::addColumn<QList<int>>("after");
    QTest::addColumn<QStringList>("names");

    const QList<int> full{50, 40, 30, 20, 10};
    const QStringList named{"A", "B", "C", "D", "E"};
    const QString here = QStringLiteral("ここです！");

    QTest::newRow("blank list: any positive score is first")
        << QList<int>{0, 0, 0, 0, 0} << 30 << 0 << QList<int>{30, 0, 0, 0, 0} << QStringList{here, "A", "B", "C", "D"};
    QTest::newRow("equal to place 2: new one stands above it")
        << full << 40 << 1 << QList<int>{50, 40, 40, 30, 20} << QStringList{"A", here, "B", "C", "D"};
    QTest::newRow("better than all") << full << 60 << 0 << QList<int>{60, 50, 40, 30, 20}
                                     << QStringList{here, "A", "B", "C", "D"};
    QTest::newRow("place 5 drops the old fifth")
        << full << 15 << 4 << QList<int>{50, 40, 30, 20, 15} << QStringList{"A", "B", "C", "D", here};
    QTest::newRow("equal to the fifth replaces it")
        << full << 10 << 4 << QList<int>{50, 40, 30, 20, 10} << QStringList{"A", "B", "C", "D", here};
    QTest::newRow("lower than all five changes nothing") << full << 5 << -1 << full << named;
    QTest::newRow("scores compare signed") << QList<int>{10, -1, -2, -3, -4} << 0 << 1 << QList<int>{10, 0, -1, -2, -3}
                                           << QStringList{"A", here, "B", "C", "D"};
}

void RankingTest::newScoreTakesFirstPlaceNotAboveIt()
{
    QFETCH(QList<int>, before);
    QFETCH(int, tensu);
    QFETCH(int, place);
    QFETCH(QList<int>, after);
    QFETCH(QStringList, names);

    // Range 1 is entries 5..9; ranges 0 and 2 around it must not move.
    BestFiveLists lists;
    std::iota(lists.seisekijikan, lists.seisekijikan + results::entryCount, std::int16_t(1000));
    std::fill_n(lists.seisekinamae, results::entryCount, std::u16string(u"other"));
    const char* letters[] = {"A", "B", "C", "D", "E"};
    for (int p = 0; p < 5; ++p) {
        lists.seisekijikan[5 + p] = static_cast<std::int16_t>(before[p]);
        lists.seisekinamae[5 + p] = u16(QString::fromLatin1(letters[p]));
        lists.stored[5 + p] = sb(QByteArray(letters[p]).leftJustified(10, ' '));
    }

    const int koko = lists.enter(1, static_cast<std::int16_t>(tensu));
    QCOMPARE(koko, place < 0 ? -1 : 5 + place);
    QCOMPARE(QList<int>(lists.seisekijikan + 4, lists.seisekijikan + 11), QList<int>{1004} + after + QList<int>{1010});
    QStringList shown;
    std::transform(lists.seisekinamae + 4, lists.seisekinamae + 11, std::back_inserter(shown), qs);
    QCOMPARE(shown, QStringList{"other"} + names + QStringList{"other"});
    // A moved entry keeps its own stored field; the new one has none.
    for (int p = 0; p < 5; ++p)
        QCOMPARE(qb(lists.stored[5 + p]).trimmed(),
                 names[p] == QStringLiteral("ここです！") ? QByteArray() : names[p].toLatin1());
}

void RankingTest::runRankingKeepsBestThree_data()
{
    QTest::addColumn<QList<int>>("before");
    QTest::addColumn<int>("tensu");
    QTest::addColumn<int>("place");
    QTest::addColumn<QList<int>>("after");

    QTest::newRow("first score of the run") << QList<int>{0, 0, 0} << 30 << 0 << QList<int>{30, 0, 0};
    QTest::newRow("equal to place 2 stands above it") << QList<int>{30, 20, 10} << 20 << 1 << QList<int>{30, 20, 20};
    QTest::newRow("best of the run pushes the third out")
        << QList<int>{30, 20, 10} << 40 << 0 << QList<int>{40, 30, 20};
    QTest::newRow("equal to the third") << QList<int>{30, 20, 10} << 10 << 2 << QList<int>{30, 20, 10};
    QTest::newRow("lower than all three") << QList<int>{30, 20, 10} << 5 << -1 << QList<int>{30, 20, 10};
}

void RankingTest::runRankingKeepsBestThree()
{
    QFETCH(QList<int>, before);
    QFETCH(int, tensu);
    QFETCH(int, place);
    QFETCH(QList<int>, after);

    std::int16_t row[3];
    std::copy(before.begin(), before.end(), row);
    QCOMPARE(results::enterRunRanking(row, static_cast<std::int16_t>(tensu)), place);
    QCOMPARE((QList<int>{row[0], row[1], row[2]}), after);
}

void RankingTest::scoreEntersOnlyWhenItCounts_data()
{
    QTest::addColumn<int>("tensu");
    QTest::addColumn<int>("tourokuBefore");
    QTest::addColumn<int>("koko");
    QTest::addColumn<int>("tourokuAfter");
    QTest::addColumn<QList<int>>("run");

    // Range 2 holds 50, 40, 30, 20, 10; the run ranking of range 2 holds 30 and 5.
    QTest::newRow("viewing opening") << 0 << 0 << -1 << 0 << QList<int>{30, 5, 0};
    QTest::newRow("score already turned away") << 40 << 1 << -1 << 1 << QList<int>{30, 5, 0};
    QTest::newRow("reaches place 2 above the equal score") << 40 << 0 << 11 << 0 << QList<int>{40, 30, 5};
    QTest::newRow("short of the best five, still in the run's three") << 9 << 0 << -1 << 1 << QList<int>{30, 9, 5};
}

void RankingTest::scoreEntersOnlyWhenItCounts()
{
    QFETCH(int, tensu);
    QFETCH(int, tourokuBefore);
    QFETCH(int, koko);
    QFETCH(int, tourokuAfter);
    QFETCH(QList<int>, run);

    results::BestFiveLists lists;
    for (int p = 0; p < 5; ++p)
        lists.seisekijikan[10 + p] = static_cast<std::int16_t>(50 - 10 * p);
    std::int16_t anatakiroku[Module1::runRankingRows][results::runPlaces] = {};
    anatakiroku[2][0] = 30;
    anatakiroku[2][1] = 5;
    std::int16_t touroku = static_cast<std::int16_t>(tourokuBefore);
    QCOMPARE(results::enterScore(lists, anatakiroku, 2, static_cast<std::int16_t>(tensu), touroku), koko);
    QCOMPARE(int(touroku), tourokuAfter);
    QCOMPARE((QList<int>{anatakiroku[2][0], anatakiroku[2][1], anatakiroku[2][2]}), run);
    if (koko >= 0)
        QCOMPARE(qs(lists.seisekinamae[koko]), qs(results::hereMark));
}

void RankingTest::saveAndBlankWriteTheirRecordsOverTheFile_data()
{
    using namespace rankingbytes;
    QTest::addColumn<bool>("clearing");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");

    // Save enters "New" with 35 in range 1 (records 6 to 10, A to E with 50 down to 10).
    const QByteArray odd21 = hex("ff007a7a8100000000003412");
    const QByteArray first21 = numberedRecords(1, 5) + sortedRange1() + numberedRecords(11, 10) + odd21;
    const QByteArray saved = numberedRecords(1, 5) + record("A", 50) + record("B", 40) + record("New", 35)
                             + record("C", 30) + record("D", 20) + numberedRecords(11, 10) + odd21 + blankRecords(54);
    const QByteArray record76 = record("Top", 999);
    QTest::newRow("save: empty file") << false << QByteArray()
                                      << blankRecords(5) + record("New", 35) + blankRecords(69);
    QTest::newRow("save: short file, record 8 cut")
        << false << numberedRecords(1, 5) + sortedRange1().left(30)
        << numberedRecords(1, 5) + record("A", 50) + record("B", 40) + record("New", 35) + blankRecords(67);
    QTest::newRow("save: 21 records") << false << first21 << saved;
    QTest::newRow("save: 900 bytes") << false << first21 + numberedRecords(22, 54) << saved;
    QTest::newRow("save: bytes after record 75 stay") << false << first21 + numberedRecords(22, 54) + record76 + "\n"
                                                      << saved + record76 + "\n";
    QTest::newRow("blank: empty file") << true << QByteArray() << blankRecords(21);
    QTest::newRow("blank: short file") << true << numberedRecords(1, 8).left(90) << blankRecords(21);
    QTest::newRow("blank: 900 bytes") << true << numberedRecords(1, 75) << blankRecords(21) + numberedRecords(22, 54);
    QTest::newRow("blank: bytes after record 75 stay")
        << true << numberedRecords(1, 75) + record76 << blankRecords(21) + numberedRecords(22, 54) + record76;
}

void RankingTest::saveAndBlankWriteTheirRecordsOverTheFile()
{
    QFETCH(bool, clearing);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const std::string image = sb(before);
    const QByteArray written =
        qb(clearing ? results::blankedImage(image) : results::savedImage(image, {1, 35, u"New"}));
    QCOMPARE(written.toHex(' '), after.toHex(' '));
}

QTEST_APPLESS_MAIN(RankingTest)
#include "tst_ranking.moc"

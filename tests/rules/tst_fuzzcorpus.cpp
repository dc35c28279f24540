// SPDX-License-Identifier: GPL-3.0-or-later
// The fuzz target's entry point (fuzz/ranking_fuzz.cpp), built with the normal compiler and fed
// the seed corpus kept in fuzz/corpus and a set of hostile files made here. The entry point
// aborts on any broken rule of the file format, which fails this test.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTest>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int feed(const QByteArray& bytes)
{
    return LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
}

} // namespace

class FuzzCorpusTest : public QObject {
    Q_OBJECT

private slots:
    // Guards against a file from the seed corpus (short, long, invalid Shift-JIS, negative
    // scores, odd padding) crashing the program or losing bytes the format keeps, and against
    // lengths at and around the record boundaries, filled with bytes that are Shift-JIS lead
    // bytes, invalid bytes, NULs or spaces, breaking Read, Save or Blank.
    void filesKeepTheFormatsRules_data();
    void filesKeepTheFormatsRules();
};

void FuzzCorpusTest::filesKeepTheFormatsRules_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QString corpus = QFINDTESTDATA("../../fuzz/corpus");
    QVERIFY2(!corpus.isEmpty(), "fuzz/corpus not found");
    const QFileInfoList files = QDir(corpus).entryInfoList(QDir::Files, QDir::Name);
    QVERIFY(files.size() >= 10);
    for (const QFileInfo& file : files) {
        QFile f(file.filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable(file.fileName())) << f.readAll();
    }
    const int lengths[] = {0, 1, 2, 3, 11, 12, 13, 250, 251, 252, 253, 264, 899, 900, 901, 911, 912, 2000};
    const struct {
        const char* name;
        char fill;
    } fills[] = {{"NUL", '\0'}, {"space", ' '}, {"lead byte 0x81", '\x81'}, {"0xFF", '\xFF'}, {"0x80", '\x80'}};
    for (const int length : lengths)
        for (const auto& fill : fills)
            QTest::addRow("%d bytes of %s", length, fill.name) << QByteArray(length, fill.fill);
}

void FuzzCorpusTest::filesKeepTheFormatsRules()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(feed(bytes), 0);
}

QTEST_GUILESS_MAIN(FuzzCorpusTest)
#include "tst_fuzzcorpus.moc"

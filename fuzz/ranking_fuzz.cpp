// Any bytes as tavon.rnk. The input is written as the ranking file; the program reads it, saves
// an entry taken from the input's last bytes, clears the lists and reads them again, as the
// results window does. Whatever the bytes, none of this may crash or run into undefined
// behaviour, and every save and clearing must keep the bytes that the file format keeps:
//   Read   - entries 0 to 20 are records 1 to 21 (score little-endian, signed); records
//            missing at the end read as blank.
//   Save   - the new entry goes into its range at the first place whose score is lower than or
//            equal to its own; every other record of 1 to 21 keeps its bytes (moved down one
//            place when below the new entry); records 22 to 75 are blank; bytes after record 75
//            are kept; the file is never shorter than 900 bytes or than it was.
//   Blank  - records 1 to 21 blank, every other byte kept.
// A broken rule aborts with a message, which libFuzzer reports as a crash.
#include "rules/ranking_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "ranking_fuzz: broken rule at line %d: %s\n", __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

constexpr int record = results::recordBytes;
constexpr qsizetype savedLength = qsizetype(results::entryCount) * record;
constexpr qsizetype readLength = qsizetype(results::readCount) * record;

const QByteArray blankRecord = QByteArray(results::nameBytes, ' ') + QByteArray(2, '\0');

std::int16_t scoreOf(QByteArrayView rec)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned char>(rec[10])
                                                                | (static_cast<unsigned char>(rec[11]) << 8)));
}

// Record n (from 1) as Read takes it: the stored bytes, or a blank record past the end.
QByteArray recordAsRead(const QByteArray& file, int n)
{
    const qsizetype at = qsizetype(n - 1) * record;
    return at + record <= file.size() ? file.mid(at, record) : blankRecord;
}

QByteArray scoreBytes(std::int16_t score)
{
    const auto u = static_cast<std::uint16_t>(score);
    QByteArray bytes;
    bytes.append(static_cast<char>(u & 0xFF));
    bytes.append(static_cast<char>(u >> 8));
    return bytes;
}

// The entry the window would save, from the input's last bytes: the score from the last two,
// the range from the one before, and a name from up to 24 bytes before that, taken as UTF-16
// code units so that unpaired surrogates and every other oddity can turn up.
results::NewEntry entryFrom(const std::uint8_t* data, std::size_t size)
{
    results::NewEntry entry;
    if (size >= 2)
        entry.tensu = static_cast<std::int16_t>(static_cast<std::uint16_t>(data[size - 2] | (data[size - 1] << 8)));
    if (size >= 3)
        entry.hani = static_cast<std::int16_t>(data[size - 3] % 4);
    const std::size_t nameEnd = size >= 3 ? size - 3 : 0;
    const std::size_t nameBegin = nameEnd >= 24 ? nameEnd - 24 : 0;
    for (std::size_t i = nameBegin; i + 1 < nameEnd; i += 2)
        entry.name += QChar(char16_t(data[i] | (data[i + 1] << 8)));
    return entry;
}

struct Place {
    QTemporaryDir temp;
    QString file;
    results::RankingOptions options;
    Place()
    {
        if (!temp.isValid()) {
            std::fprintf(stderr, "ranking_fuzz: no temporary directory\n");
            std::abort();
        }
        options.programDirectory = temp.filePath(QStringLiteral("program"));
        options.fallbackDirectory = temp.filePath(QStringLiteral("own"));
        QDir().mkpath(temp.filePath(QStringLiteral("program")));
        file = temp.filePath(QStringLiteral("program/tavon.rnk"));
    }
};

QByteArray contentsOf(const QString& path)
{
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Place place;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile f(place.file);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(f.write(input) == input.size());
    }

    // Names of any bytes decode, and what is typed back fits a name field.
    const QString anyName = results::decodeName(input);
    FUZZ_CHECK(results::encodeName(anyName).size() == results::nameBytes);

    // Read.
    results::BestFiveLists lists;
    results::RankingFile file(place.options);
    file.read(lists);
    FUZZ_CHECK(file.isWritable());
    for (int i = 0; i < results::readCount; ++i) {
        const QByteArray rec = recordAsRead(input, i + 1);
        FUZZ_CHECK(lists.seisekijikan[i] == scoreOf(rec));
        FUZZ_CHECK(lists.stored[i] == rec.left(results::nameBytes));
        const QString& name = lists.seisekinamae[i];
        FUZZ_CHECK(!name.endsWith(u' ') && !name.endsWith(QChar(u'\0')));
        FUZZ_CHECK(name.size() <= results::nameBytes);
    }

    // Save.
    const results::NewEntry entry = entryFrom(data, size);
    FUZZ_CHECK(file.save(entry));
    const QByteArray saved = contentsOf(place.file);
    FUZZ_CHECK(saved.size() == qMax(savedLength, input.size()));
    FUZZ_CHECK(saved.mid(savedLength) == input.mid(savedLength));
    for (int n = 22; n <= results::entryCount; ++n)
        FUZZ_CHECK(saved.mid(qsizetype(n - 1) * record, record) == blankRecord);
    FUZZ_CHECK(saved.mid(20 * record, record) == recordAsRead(input, 21));
    for (int range = 0; range < rangeCount; ++range) {
        const int first = range * results::places + 1;
        QByteArrayList expected;
        for (int p = 0; p < results::places; ++p)
            expected << recordAsRead(input, first + p);
        if (range == entry.hani) {
            for (int p = 0; p < results::places; ++p) {
                if (scoreOf(expected[p]) <= entry.tensu) {
                    expected.insert(p, results::encodeName(entry.name) + scoreBytes(entry.tensu));
                    expected.removeLast();
                    break;
                }
            }
        }
        for (int p = 0; p < results::places; ++p)
            FUZZ_CHECK(saved.mid(qsizetype(first - 1 + p) * record, record) == expected[p]);
    }

    // Blank.
    FUZZ_CHECK(file.blank());
    const QByteArray blanked = contentsOf(place.file);
    FUZZ_CHECK(blanked.size() == saved.size());
    FUZZ_CHECK(blanked.left(readLength) == blankRecord.repeated(results::readCount));
    FUZZ_CHECK(blanked.mid(readLength) == saved.mid(readLength));
    file.close();

    // The next opening finds blank lists.
    results::BestFiveLists again;
    results::RankingFile reopened(place.options);
    reopened.read(again);
    for (int i = 0; i < results::readCount; ++i)
        FUZZ_CHECK(again.seisekijikan[i] == 0 && again.seisekinamae[i].isEmpty());
    reopened.close();
    return 0;
}

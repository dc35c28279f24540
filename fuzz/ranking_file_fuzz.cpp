// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as tavon.rnk on disk: the program reads the file, saves an entry taken from the
// input's last bytes, clears the lists and reads them again, as the results window does. After
// each step the file must hold exactly what the rules make of its bytes (ranking_fuzz.cpp
// checks those rules in memory, far faster): the file path adds no change of its own.
#include "fuzz/ranking_fuzz.h"
#include "storage/ranking_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

struct Place {
    QTemporaryDir temp;
    QString file;
    storage::RankingOptions options;
    Place()
    {
        if (!temp.isValid()) {
            std::fprintf(stderr, "ranking_file_fuzz: no temporary directory\n");
            std::abort();
        }
        options.programDirectory = temp.filePath(QStringLiteral("program"));
        options.fallbackDirectory = temp.filePath(QStringLiteral("own"));
        QDir().mkpath(options.programDirectory);
        file = options.programDirectory + QStringLiteral("/tavon.rnk");
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

    results::BestFiveLists lists;
    results::BestFiveLists expected;
    results::readLists(input.toStdString(), expected);
    storage::RankingFile file(place.options);
    file.read(lists);
    FUZZ_CHECK(file.isWritable());
    for (int i = 0; i < results::readCount; ++i)
        FUZZ_CHECK(lists.seisekijikan[i] == expected.seisekijikan[i] && lists.stored[i] == expected.stored[i]);

    const results::NewEntry entry = fuzz::entryFrom(data, size);
    FUZZ_CHECK(file.save(entry));
    const QByteArray saved = contentsOf(place.file);
    FUZZ_CHECK(saved.toStdString() == fuzz::savedImage(input.toStdString(), entry));

    FUZZ_CHECK(file.blank());
    FUZZ_CHECK(contentsOf(place.file).toStdString() == fuzz::blankedImage(saved.toStdString()));
    file.close();
    return 0;
}

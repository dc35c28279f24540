// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/program_dir.h"

#include <QDir>
#include <QTest>

ProgramDir::ProgramDir()
    : programDir(temp.filePath(QStringLiteral("program"))), fallbackDir(temp.filePath(QStringLiteral("own-data")))
{
    if (temp.isValid())
        QDir().mkpath(programDir);
}

storage::RankingOptions ProgramDir::options() const
{
    storage::RankingOptions options;
    options.programDirectory = programDir;
    options.fallbackDirectory = fallbackDir;
    return options;
}

void ProgramDirTest::init()
{
    dir = std::make_unique<ProgramDir>();
    QVERIFY(dir->isValid());
}

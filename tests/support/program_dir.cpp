// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/program_dir.h"

#include <QDir>

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

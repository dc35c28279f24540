#include "support/program_dir.h"

#include <QDir>

ProgramDir::ProgramDir()
    : programDir(temp.filePath(QStringLiteral("program"))), fallbackDir(temp.filePath(QStringLiteral("own-data")))
{
    if (temp.isValid())
        QDir().mkpath(programDir);
}

results::RankingOptions ProgramDir::options() const
{
    results::RankingOptions options;
    options.programDirectory = programDir;
    options.fallbackDirectory = fallbackDir;
    return options;
}

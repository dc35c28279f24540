// SPDX-License-Identifier: GPL-3.0-or-later
#include "storage/save_lock.h"

#include "storage/file_io.h"

namespace storage {

SaveLock::SaveLock(int rankingFd, const QString& rankingPath, const RankingOptions& options)
    : rankingPath(rankingPath), options(options)
{
    if (rankingFd >= 0)
        range.emplace(rankingFd);
    else
        file.emplace(rankingPath + rankingLockSuffix, options.staleLock);
}

LockResult SaveLock::acquire(SaveClock::time_point deadline)
{
    const auto waiting = [this] {
        if (options.writeHook)
            options.writeHook(WriteStep::WaitingForLock);
    };
    if (range)
        return range->acquire(deadline, waiting);
    const LockResult got = file->acquire(deadline, waiting);
    if (got == LockResult::Held)
        fileio::sweepRetired(rankingPath, file->ownId());
    return got;
}

} // namespace storage

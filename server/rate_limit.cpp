// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/rate_limit.h"

#include <algorithm>

namespace server {

bool RateLimit::take(const std::string& name, Clock::time_point now)
{
    std::lock_guard lock(mutex);
    // Full buckets are forgotten now and then, so that many addresses cannot fill the memory.
    if (buckets.size() > 10000)
        std::erase_if(buckets, [&](const auto& b) {
            return b.second.tokens + std::chrono::duration<double>(now - b.second.last).count() * perSecond >= burst;
        });
    auto [it, added] = buckets.try_emplace(name, Bucket{burst, now});
    Bucket& b = it->second;
    if (!added) {
        b.tokens = std::min(burst, b.tokens + std::chrono::duration<double>(now - b.last).count() * perSecond);
        b.last = now;
    }
    if (b.tokens < 1)
        return false;
    b.tokens -= 1;
    return true;
}

} // namespace server

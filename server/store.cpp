// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/store.h"

#include <ctime>

namespace server {

std::string timeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

} // namespace server

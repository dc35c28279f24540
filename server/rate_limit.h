// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Token buckets in memory, one per name (a client's address, a class): each holds up to
// `burst` tokens and gains `perSecond` tokens a second; a request takes one or is refused.
// Safe to use from many threads.
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace server {

class RateLimit {
public:
    using Clock = std::chrono::steady_clock;

    RateLimit(double burst, double perSecond) : burst(burst), perSecond(perSecond) {}

    // Takes a token from name's bucket; false when it is empty.
    bool take(const std::string& name, Clock::time_point now = Clock::now());

private:
    struct Bucket {
        double tokens;
        Clock::time_point last;
    };
    const double burst, perSecond;
    std::mutex mutex;
    std::unordered_map<std::string, Bucket> buckets;
};

} // namespace server

// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/store.h"

#include "server/encoding.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace server {

// The first thread to find no commit under way commits every change waiting at that moment,
// its own among them; the others wait until theirs is done, or until the commit under way ends
// and one of them takes the next turn.
Outcome Store::change(std::int64_t classId, const Change& change, const std::string& time)
{
    Pending self{classId, change, time, {}, nullptr};
    std::unique_lock lock(turn);
    waiting.push_back(&self);
    turnOver.wait(lock, [&] { return self.done || !committing; });
    if (!self.done) {
        std::vector<Pending*> batch;
        batch.swap(waiting);
        committing = true;
        lock.unlock();
        std::exception_ptr failed;
        try {
            changeTogether(batch);
        } catch (const StoreDown& e) {
            failed = std::current_exception();
            tell(e.what());
        } catch (...) {
            failed = std::current_exception();
        }
        std::vector<std::int64_t> changed; // read before their threads may return
        lock.lock();
        for (Pending* p : batch) {
            if (failed)
                p->error = failed;
            else if (!p->error && p->outcome.applied)
                changed.push_back(p->classId);
            p->done = true;
        }
        committing = false;
        turnOver.notify_all();
        lock.unlock();
        for (const std::int64_t classId : changed)
            changedClass(classId);
    }
    if (self.error)
        std::rethrow_exception(self.error);
    return std::move(self.outcome);
}

void Store::hear(std::function<void(std::int64_t, ClassEvent)> told)
{
    heard = std::move(told);
}

void Store::changedClass(std::int64_t classId, ClassEvent what)
{
    if (heard)
        heard(classId, what);
}

std::string changePayload(std::int64_t classId, ClassEvent what)
{
    const std::string id = std::to_string(classId);
    switch (what) {
    case ClassEvent::roundStarted: return id + " start";
    case ClassEvent::roundMoved: return id + " round";
    case ClassEvent::changed: break;
    }
    return id;
}

std::pair<std::int64_t, ClassEvent> readChangePayload(std::string_view payload)
{
    const std::size_t space = payload.find(' ');
    std::int64_t id = 0;
    for (const char c : payload.substr(0, space)) {
        if (c < '0' || c > '9' || id > (INT64_MAX - 9) / 10)
            return {0, ClassEvent::changed};
        id = id * 10 + (c - '0');
    }
    const std::string_view kind = space == std::string_view::npos ? "" : payload.substr(space + 1);
    return {id, kind == "start"   ? ClassEvent::roundStarted
                : kind == "round" ? ClassEvent::roundMoved
                                  : ClassEvent::changed};
}

// Why saves are refused, on stderr for whoever keeps the server: each new reason, and the same
// one again after a minute at most once.
void Store::tell(const std::string& why)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(turn);
    if (why == lastTold && now - toldAt < std::chrono::minutes(1))
        return;
    lastTold = why;
    toldAt = now;
    std::cerr << "nubora1-server: cannot store a change, answering 503: " << why << std::endl;
}

std::string replayed(std::string base, const std::vector<EntryRow>& entries)
{
    for (const EntryRow& e : entries)
        if (!e.removed)
            base = results::savedImage(base,
                                       {std::int16_t(e.range), std::int16_t(e.score), fromUtf8(e.name).value_or(u"?")});
    return base;
}

std::string timeText(std::time_t time)
{
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string timeNow()
{
    return timeText(std::time(nullptr));
}

std::tm localTime(std::time_t time)
{
    std::tm local{};
    localtime_r(&time, &local);
    return local;
}

std::string localTimeText(const std::string& stored)
{
    std::tm utc{};
    int read = 0;
    if (std::sscanf(stored.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                    &utc.tm_min, &utc.tm_sec, &read)
            != 6
        || std::size_t(read) != stored.size())
        return stored;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    const std::tm local = localTime(timegm(&utc));
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60;
    const long minutes = offset < 0 ? -offset : offset;
    char zone[8];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60 % 100, minutes % 60);
    return text + std::string(zone);
}

} // namespace server

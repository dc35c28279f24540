// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/store.h"

#include "server/encoding.h"

#include <chrono>
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

void Store::hear(std::function<void(std::int64_t)> told)
{
    heard = std::move(told);
}

void Store::changedClass(std::int64_t classId)
{
    if (heard)
        heard(classId);
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

} // namespace server

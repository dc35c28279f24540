// SPDX-License-Identifier: GPL-3.0-or-later
#include "classlink/courier.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>

namespace classlink {

namespace {

class Courier : public QObject {
public:
    explicit Courier(QObject* parent) : QObject(parent)
    {
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, &Courier::tryNow);
    }
    ~Courier() override
    {
        if (thread)
            thread->wait();
    }

    void schedule(const storage::RankingOptions& ranking, const ClassOptions& classOpts)
    {
        options = ranking;
        classOptions = classOpts;
        // A new entry waiting brings the next try within retry; a try under way leaves it be.
        if (thread || (timer.isActive() && timer.remainingTimeAsDuration() <= classOptions.retry))
            return;
        pause = classOptions.retry;
        timer.start(pause);
    }

private:
    void tryNow()
    {
        auto left = std::make_shared<std::atomic<bool>>(false);
        thread.reset(QThread::create([left, ranking = options, classOpts = classOptions] {
            const std::unique_ptr<ClassRanking> place = classRanking(ranking, classOpts);
            left->store(place && place->link().isValid() && !place->sendOutbox());
        }));
        connect(thread.get(), &QThread::finished, this, [this, left] {
            thread->wait();
            thread.reset();
            if (!left->load())
                return; // all sent, or no class to send to
            pause = std::min(pause * 2, classOptions.retryMax);
            timer.start(pause);
        });
        thread->start();
    }

    storage::RankingOptions options;
    ClassOptions classOptions;
    std::chrono::milliseconds pause{};
    QTimer timer;
    std::unique_ptr<QThread> thread;
};

} // namespace

void sendLater(const storage::RankingOptions& options, const ClassOptions& classOptions)
{
    static QPointer<Courier> courier;
    if (!courier)
        courier = new Courier(QCoreApplication::instance());
    courier->schedule(options, classOptions);
}

void stockTicketsLater(const storage::RankingOptions& options, const ClassOptions& classOptions)
{
    QThread* thread = QThread::create([options, classOptions] {
        if (const std::unique_ptr<ClassRanking> place = classRanking(options, classOptions))
            place->stockTickets();
    });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    // A program ended meanwhile waits for the request (options.wait at most).
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, thread,
                     [thread] { thread->wait(); });
    thread->setParent(QCoreApplication::instance());
    thread->start();
}

} // namespace classlink

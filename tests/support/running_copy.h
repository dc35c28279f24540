// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A running copy of the program in a child process, opening, saving and clearing the ranking
// file one command of the test at a time, and a script that interleaves two such copies.
#include "storage/ranking_file.h"
#include "support/child_process.h"

#include <QString>
#include <QStringList>

#include <csignal>

// Answers the test's commands:
//   o  open the results window (Read)          -> O, or R when the file cannot be written
//   s  save this copy's entry                  -> S, or F when it failed
//   b  clear the lists (Blank)                 -> B, or f when it failed
//   p, P  as s and b, but stop while holding the lock, after re-reading the file: -> M, then
//         go on at c
//   k  as s, but die with three records written (the file a mix of old and new lists)
// and telling it, unasked, W when it finds the lock taken and waits.
inline int runningCopy(const ChildProcess::Channel& channel, const results::NewEntry& entry,
                       storage::RankingOptions options)
{
    char command = 0;
    int writes = 0;
    options.writeHook = [&](storage::WriteStep step) {
        if (step == storage::WriteStep::WaitingForLock)
            channel.send('W');
        if (step == storage::WriteStep::Reread && (command == 'p' || command == 'P')) {
            channel.send('M');
            if (channel.receive() != 'c')
                ::_exit(3);
        }
        if (step == storage::WriteStep::Written && command == 'k' && ++writes == 3)
            ::raise(SIGKILL);
    };
    results::BestFiveLists lists;
    storage::RankingFile file(options);
    for (;;) {
        switch (command = channel.receive()) {
        case 'o':
            file.read(lists);
            channel.send(file.isWritable() ? 'O' : 'R');
            break;
        case 's':
        case 'p':
        case 'k': channel.send(file.save(entry) ? 'S' : 'F'); break;
        case 'b':
        case 'P': channel.send(file.blank() ? 'B' : 'f'); break;
        default: return 0;
        }
    }
}

// Plays a script over copies A and B: "A>o" sends o to A, "A<O" waits for A to answer O,
// "A!" kills A, "A~" waits for A to die by itself. Afterwards both are told to quit. Returns
// what went wrong, or nothing.
inline QString playScript(const QString& script, ChildProcess& a, ChildProcess& b)
{
    using namespace std::chrono_literals;
    for (const QString& step : script.split(u' ')) {
        ChildProcess& copy = step[0] == u'A' ? a : b;
        const char what = step.size() > 2 ? step[2].toLatin1() : 0;
        if (step[1] == u'>' && !copy.send(what))
            return step + QStringLiteral(": the copy is gone");
        if (step[1] == u'<') {
            const std::optional<char> answer = copy.receive(10s);
            if (answer != what)
                return step + QStringLiteral(": answered ") + (answer ? QChar::fromLatin1(*answer) : QChar(u'-'));
        }
        if (step[1] == u'!')
            copy.kill();
        if ((step[1] == u'!' || step[1] == u'~') && !ChildProcess::killed(copy.finish(10s)))
            return step + QStringLiteral(": the copy did not die");
    }
    for (ChildProcess* copy : {&a, &b}) {
        copy->send('q');
        const int status = copy->finish(10s);
        if (!ChildProcess::exitedWith(status, 0) && !ChildProcess::killed(status))
            return QStringLiteral("a copy ended with status %1").arg(status);
    }
    return {};
}

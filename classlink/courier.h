// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classlink/class_ranking.h"
#include "storage/ranking_file.h"

// The entries that wait in a class's outbox, sent again while the program runs: a timer of the
// calling thread's event loop starts a try after options.retry, and each try that leaves
// entries waiting doubles the pause, up to options.retryMax. A try runs on a thread of its own
// (the windows go on painting) and reads the class link anew, so that a tavon.class the teacher
// mends is followed. One courier serves the program: a call updates where it looks, and brings
// its next try within options.retry.
namespace classlink {

// Starts the courier, where it is not already running, for the class link that a results window
// opened with these options finds. Call from the thread of the application's event loop.
void sendLater(const storage::RankingOptions& options, const ClassOptions& classOptions);

// Fills up the class's stock of tickets on a thread of its own (ClassRanking::stockTickets),
// where the program has a class link: the program's first game is drawn from one.
void stockTicketsLater(const storage::RankingOptions& options, const ClassOptions& classOptions);

} // namespace classlink

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows.h"

#include "game/form1.h"
#include "help/form2.h"
#include "results/form3.h"
#include "rules/game_log.h"
#include "rules/ticket.h"
#include "ui/services.h"

#include <utility>

namespace app {

namespace {

template <class F>
bool exists(const QPointer<F>& form)
{
    return form && !form->isUnloaded();
}

template <class F, class... Args>
F& existing(QPointer<F>& form, Args&&... args)
{
    if (!exists(form))
        form = new F(std::forward<Args>(args)...);
    return *form;
}

} // namespace

Windows::Windows(storage::RankingOptions options) : options(std::move(options)) {}

Windows::~Windows()
{
    destroyAll();
}

Form1& Windows::form1()
{
    const bool fresh = !exists(gameWindow);
    Form1& game = existing(gameWindow, *this);
    if (fresh)
        game.newSeed = [this] { return drawSeed(); };
    return game;
}

std::uint32_t Windows::drawSeed()
{
    ticket.clear();
    if (const auto place = classlink::classRanking(options, classOpts)) {
        // スタート pressed before the program's first tickets came: they are fetched now.
        std::optional<QString> taken = place->takeTicket();
        if (!taken && place->stockTickets())
            taken = place->takeTicket();
        if (const std::optional<ticket::Ticket> t = taken ? ticket::parse(taken->toStdString()) : std::nullopt) {
            ticket = *taken;
            return t->seed;
        }
    }
    return ui::NewSeed();
}
Form2& Windows::form2()
{
    return existing(helpWindow, *this);
}
Form3& Windows::form3()
{
    return existing(resultsWindow, options, classOpts);
}

bool Windows::helpExists() const
{
    return exists(helpWindow);
}
bool Windows::resultsExist() const
{
    return exists(resultsWindow);
}

void Windows::showResults(bool modal)
{
    if (modal && exists(resultsWindow))
        resultsWindow->Unload();
    Form3& results = form3();
    // A game's end: its entry carries the game for the class server to replay.
    const gamelog::GameLogRecorder* game = exists(gameWindow) ? &gameWindow->recorder : nullptr;
    if (modal && game && game->log())
        results.played = classlink::PlayedGame{game->seed(), gamelog::write(*game->log()), ticket};
    results.Show(modal);
}

void Windows::showGame()
{
    form1().Show();
}

void Windows::showHelp()
{
    form2().Show();
}

void Windows::destroyAll()
{
    delete resultsWindow.data();
    delete helpWindow.data();
    delete gameWindow.data();
}

} // namespace app

#include "windows/registry.h"

#include "game/form1.h"
#include "help/form2.h"
#include "results/form3.h"

#include <QPointer>

namespace windows {

namespace {

template <class F>
class Slot {
public:
    F& get()
    {
        if (!exists())
            form = new F();
        return *form;
    }
    bool exists() const { return form && !form->isUnloaded(); }
    void destroy() { delete form.data(); }

private:
    QPointer<F> form;
};

Slot<Form1> game;
Slot<Form2> help;
Slot<Form3> results;

} // namespace

Form1& form1() { return game.get(); }
Form2& form2() { return help.get(); }
Form3& form3() { return results.get(); }

bool helpExists() { return help.exists(); }
bool resultsExist() { return results.exists(); }

void showResults(bool modal)
{
    if (modal && results.exists())
        results.get().Unload();
    results.get().Show(modal);
}

void showGame()
{
    game.get().Show();
}

void showHelp()
{
    help.get().Show();
}

results::RankingOptions& rankingOptions()
{
    static results::RankingOptions options;
    return options;
}

void destroyAll()
{
    results.destroy();
    help.destroy();
    game.destroy();
}

} // namespace windows

// SPDX-License-Identifier: GPL-3.0-or-later
// The results window's decisions: entering the score, the rows shown, the name, 戻る.
#include "rules/results_window.h"

#include "rules/module1.h"
#include "rules/number_text.h"
#include "rules/ranges.h"

namespace results {

using numtext::numberText;
using numtext::plainText;

void ResultsWindow::sounyuu()
{
    using namespace Module1;
    screen.jikan9 = numberText(tensu);
    const int place = enterScore(lists, anatakiroku, hani, tensu, touroku);
    entered = place >= 0;
    if (entered)
        koko = static_cast<std::int16_t>(place);
    screen.nameBoxShown = entered;
}

void ResultsWindow::showLists()
{
    const std::int16_t hani = Module1::hani;
    screen.Label6 = numberText(koko % places + 1) + u"番です。名前を入力して下さい。";
    screen.enz0 = rangeName(hani);

    const bool hasList = BestFiveLists::hasRange(hani);
    const int first = hasList ? hani * places : 0;
    for (int i = 0; i < places; ++i) {
        Row& row = screen.best[i];
        row.place = numberText(i + 1);
        row.name = hasList ? lists.seisekinamae[first + i] : std::u16string();
        row.score = plainText(hasList ? lists.seisekijikan[first + i] : 0);
    }
    const bool hasRun = hani >= 0 && hani < Module1::runRankingRows;
    for (int i = 0; i < runPlaces; ++i) {
        Row& row = screen.run[i];
        row.place = i == 0 ? std::u16string() : numberText(i + 1);
        row.score = plainText(hasRun ? Module1::anatakiroku[hani][i] : 0);
    }
}

std::u16string ResultsWindow::said(std::u16string_view heading) const
{
    std::u16string sentence =
        std::u16string(heading) + u"、" + std::u16string(numtext::trimmed(screen.jikan9)) + u"点。";
    if (entered)
        sentence += numtext::trimmed(screen.Label6);
    return sentence;
}

int ResultsWindow::Text1_Change(std::u16string_view typed)
{
    if (!entered)
        return -1;
    const int row = koko % places;
    screen.best[row].name = typed;
    return row;
}

std::optional<NewEntry> ResultsWindow::Command1_Click(std::u16string_view typed)
{
    if (!entered)
        return std::nullopt;
    lists.seisekinamae[koko] = typed;
    return NewEntry{Module1::hani, lists.seisekijikan[koko], lists.seisekinamae[koko]};
}

} // namespace results

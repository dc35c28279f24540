// SPDX-License-Identifier: GPL-3.0-or-later
// The results window's behaviour: reading the lists, entering the new score, the name, 戻る, 初期化.
#include "results/form3.h"

#include "rules/module1.h"
#include "rules/number_text.h"
#include "rules/ranges.h"
#include "ui/accessibility.h"
#include "ui/services.h"
#include "ui/text.h"

#include <QEventLoop>
#include <QThread>

#include <functional>
#include <memory>

using namespace Module1;

namespace {

constexpr int rowPixels = 30;      // rows of the lists, element 0 and the copies below it
constexpr int bestRows = results::places;
constexpr int runRows = results::runPlaces;

// Runs work on a thread of its own while the window goes on painting (the player's clicks
// and keys wait), so that a save that waits for another copy's lock or for a slow file
// server does not freeze the window. Hands back what the work returned (a failure keeps its
// reason).
results::SaveResult whileResponsive(const std::function<results::SaveResult()>& work)
{
    results::SaveResult result = results::SaveResult::WriteFailed;
    const ui::NestedLoop nested; // no window is destroyed while the work may use it
    QEventLoop loop;
    const std::unique_ptr<QThread> thread(QThread::create([&] { result = work(); }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    return result;
}

QString numberText(double value)
{
    return ui::qtext(numtext::numberText(value));
}

QString plainText(int value)
{
    return ui::qtext(numtext::plainText(value));
}

} // namespace

void Form3::Form_Load()
{
    yomikomi();
    sounyuu();
    Label6->setCaption(numberText(koko % results::places + 1)
                       + QStringLiteral("番です。名前を入力して下さい。"));
    const QString range = ui::qtext(rangeName(hani));
    if (!range.isEmpty())
        enz0->setCaption(range);
    showRows();
    showToScreenReaders();
    // The name box comes first in the keyboard order; without it the focus starts on 戻る.
    if (entered)
        Text1->setFocus();
    else
        Command1->setFocus();
}

void Form3::yomikomi()
{
    rankingFile.read(lists);
}

void Form3::sounyuu()
{
    jikan9->setCaption(numberText(tensu));
    const int place = results::enterScore(lists, anatakiroku, hani, tensu, touroku);
    entered = place >= 0;
    if (entered)
        koko = static_cast<std::int16_t>(place);
    Label6->setVisible(entered);
    Text1->setVisible(entered);
}

void Form3::showRows()
{
    // Copies of element 0 of an array, each 30 pixels below the one before.
    auto addRow = [](ui::ControlArray<ui::Label>& array, std::int16_t i, const QString& caption) {
        ui::Label& row = *array.load(i);
        row.move(array(0).x(), array(0).y() + rowPixels * i);
        row.show();
        row.setCaption(caption);
    };

    const bool hasList = results::BestFiveLists::hasRange(hani);
    const int first = hasList ? hani * results::places : 0;
    auto name = [&](int i) { return hasList ? ui::qtext(lists.seisekinamae[first + i]) : QString(); };
    auto score = [&](int i) { return plainText(hasList ? lists.seisekijikan[first + i] : 0); };

    jyun(0).setCaption(numberText(1));
    for (std::int16_t i = 1; i < bestRows; ++i)
        addRow(jyun, i, numberText(i + 1));
    namae(0).setCaption(name(0));
    jikan(0).setCaption(score(0));
    for (std::int16_t i = 1; i < bestRows; ++i) {
        addRow(namae, i, name(i));
        addRow(jikan, i, score(i));
    }

    const bool hasRun = hani >= 0 && hani < runRankingRows;
    auto runScore = [&](int i) { return plainText(hasRun ? anatakiroku[hani][i] : 0); };
    jikan1(0).setCaption(runScore(0));
    for (std::int16_t i = 1; i < runRows; ++i) {
        addRow(jyun1, i, numberText(i + 1));
        addRow(jikan1, i, runScore(i));
    }
}

void Form3::showToScreenReaders()
{
    QList<QList<QWidget*>> best, run;
    for (std::int16_t i = 0; i < bestRows; ++i)
        best.append(QList<QWidget*>{&jyun(i), &namae(i), &jikan(i)});
    for (std::int16_t i = 0; i < runRows; ++i)
        run.append(QList<QWidget*>{&jyun1(i), &jikan1(i)});
    ui::makeTable(Label1->caption(), best);
    ui::makeTable(Label3->caption(), run);
    ui::labelBy(Text1, Label6);
    QString said = Label2->caption() + QStringLiteral("、") + jikan9->caption().trimmed() + QStringLiteral("点。");
    if (entered)
        said += Label6->caption().trimmed();
    ui::announce(this, said);
}

void Form3::Text1_Change()
{
    const auto row = static_cast<std::int16_t>(koko % results::places);
    if (entered && namae.exists(row))
        namae(row).setCaption(Text1->text());
}

void Form3::Text1_KeyPress(std::int16_t& KeyAscii)
{
    if (KeyAscii == ui::enterKey) {
        KeyAscii = 0;
        Command1_Click();
    }
}

void Form3::Command1_Click()
{
    // Only a score that entered the best five at this opening is saved, with the typed name.
    // Save puts it into the lists as the file holds them now, so that what another running
    // copy saved or cleared since this window opened stays as it is.
    if (entered) {
        lists.seisekinamae[koko] = ui::u16(Text1->text());
        const results::NewEntry entry{hani, lists.seisekijikan[koko], lists.seisekinamae[koko]};
        if (!whileResponsive([&] { return rankingFile.save(entry); }) && !isUnloaded())
            ui::MsgBox(QStringLiteral("成績を保存できませんでした。"), QStringLiteral("保存"), ui::Icon::Exclamation);
    }
    rankingFile.close();
    Unload();
}

void Form3::Command2_Click()
{
    const ui::Answer answer = ui::MsgBox(QStringLiteral("成績一覧の名前と時間を消去しますか？"), QStringLiteral("確認"),
                                         ui::Icon::Question, ui::Buttons::OkCancel);
    if (isUnloaded())
        return; // the window went while the question was open
    if (answer == ui::Answer::Ok && !whileResponsive([this] { return rankingFile.blank(); }) && !isUnloaded())
        ui::MsgBox(QStringLiteral("成績一覧を消去できませんでした。"), QStringLiteral("初期化"), ui::Icon::Exclamation);
    rankingFile.close();
    Unload();
}

void Form3::closedByFrame()
{
    // Leaving by the close box saves nothing; the file is released for the next opening.
    rankingFile.close();
    Unload();
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The results window's behaviour: the ranking file (or the class's lists on the class server)
// read, saved and cleared, and what the model (rules/results_window.h) decides shown in the
// controls.
#include "results/form3.h"

#include "classlink/courier.h"
#include "rules/design.h"
#include "ui/accessibility.h"
#include "ui/services.h"
#include "ui/text.h"
#include "windows/design.h"

#include <QEventLoop>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr int bestRows = results::places;
constexpr int runRows = results::runPlaces;

// Runs work on a thread of its own while the window goes on painting (the player's clicks
// and keys wait), so that a save that waits for another copy's lock, for a slow file server
// or for the class server does not freeze the window. Hands back what the work returned (a
// failure keeps its reason), through done: a hand-over that ThreadSanitizer sees (it cannot
// see the futex behind QThread::wait).
storage::SaveResult whileResponsive(const std::function<storage::SaveResult()>& work)
{
    storage::SaveResult result = storage::SaveResult::WriteFailed;
    std::atomic<bool> done{false};
    const ui::NestedLoop nested; // no window is destroyed while the work may use it
    QEventLoop loop;
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        result = work();
        done.store(true, std::memory_order_release);
    }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    return done.load(std::memory_order_acquire) ? result : storage::SaveResult::WriteFailed;
}

} // namespace

void Form3::Form_Load()
{
    yomikomi();
    sounyuu();
    showRows();
    showToScreenReaders();
    // The name box comes first in the keyboard order; without it the focus starts on 戻る.
    if (model.screen.nameBoxShown)
        Text1->setFocus();
    else
        Command1->setFocus();
}

void Form3::yomikomi()
{
    // The class server may take a while to answer: the game window goes on painting meanwhile.
    if (classRanking) {
        whileResponsive([this] {
            classRanking->read(model.lists);
            return storage::SaveResult::Saved;
        });
        if (!classRanking->outbox().entries().isEmpty())
            classlink::sendLater(rankingFile.options(), classOpts);
    } else
        rankingFile.read(model.lists);
}

void Form3::sounyuu()
{
    model.sounyuu();
    jikan9->setCaption(ui::qtext(model.screen.jikan9));
    Label6->setVisible(model.screen.nameBoxShown);
    Text1->setVisible(model.screen.nameBoxShown);
}

void Form3::showRows()
{
    model.showLists();
    const results::Screen& s = model.screen;
    Label6->setCaption(ui::qtext(s.Label6));
    if (!s.enz0.empty())
        enz0->setCaption(ui::qtext(s.enz0));

    // Copies of element 0 of an array, each a row's step below the one before.
    auto addRow = [](ui::ControlArray<ui::Label>& array, std::int16_t i, const std::u16string& caption) {
        ui::Label& row = *array.load(i);
        row.move(array(0).x(), array(0).y() + design::pixels(design::form3().rowStep) * i);
        row.show();
        row.setCaption(ui::qtext(caption));
    };
    jyun(0).setCaption(ui::qtext(s.best[0].place));
    for (std::int16_t i = 1; i < bestRows; ++i)
        addRow(jyun, i, s.best[i].place);
    namae(0).setCaption(ui::qtext(s.best[0].name));
    jikan(0).setCaption(ui::qtext(s.best[0].score));
    for (std::int16_t i = 1; i < bestRows; ++i) {
        addRow(namae, i, s.best[i].name);
        addRow(jikan, i, s.best[i].score);
    }
    jikan1(0).setCaption(ui::qtext(s.run[0].score));
    for (std::int16_t i = 1; i < runRows; ++i) {
        addRow(jyun1, i, s.run[i].place);
        addRow(jikan1, i, s.run[i].score);
    }
}

void Form3::showToScreenReaders()
{
    windows::makeTables(client(), design::form3());
    ui::labelBy(Text1, Label6);
    ui::announce(this, ui::qtext(model.said(ui::u16(Label2->caption()))));
}

void Form3::Text1_Change()
{
    const int row = model.Text1_Change(ui::u16(Text1->text()));
    if (row >= 0 && namae.exists(static_cast<std::int16_t>(row)))
        namae(static_cast<std::int16_t>(row)).setCaption(ui::qtext(model.screen.best[row].name));
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
    // Save puts the entry into the lists as the file holds them now, so that what another
    // running copy saved or cleared since this window opened stays as it is. The saving thread
    // works on its own copy of the entry.
    if (const std::optional<results::NewEntry> entry = model.Command1_Click(ui::u16(Text1->text()))) {
        if (classRanking) {
            classlink::Sent sent;
            whileResponsive([this, &entry, &sent, played = played] {
                sent = classRanking->save(*entry, played);
                return storage::SaveResult::Saved;
            });
            using classqueue::Fate;
            if (sent.fate == Fate::waiting && sent.kept)
                classlink::sendLater(rankingFile.options(), classOpts);
            if (!isUnloaded() && sent.fate == Fate::refused)
                message(classqueue::saveRefused(sent.status, sent.kept));
            else if (!isUnloaded() && sent.fate == Fate::waiting)
                message(sent.kept ? classqueue::saveWaiting : results::saveFailed);
        } else if (!whileResponsive([this, &entry] { return rankingFile.save(*entry); }) && !isUnloaded()) {
            message(results::saveFailed);
        }
    } else if (classRanking && played && classRanking->queueGame(*played)) {
        // A game whose score entered no list still goes to the class, without a name, later.
        classlink::sendLater(rankingFile.options(), classOpts);
    }
    rankingFile.close();
    Unload();
}

void Form3::Command2_Click()
{
    const ui::Answer answer =
        ui::MsgBox(ui::qtext(results::clearQuestion.text), ui::qtext(results::clearQuestion.title), ui::Icon::Question,
                   ui::Buttons::OkCancel);
    if (isUnloaded())
        return; // the window went while the question was open
    if (answer == ui::Answer::Ok && classRanking) {
        classlink::Sent sent;
        whileResponsive([this, &sent] {
            sent = classRanking->blank();
            return storage::SaveResult::Saved;
        });
        if (!isUnloaded() && sent.fate == classqueue::Fate::refused && sent.status == 403)
            message(classqueue::clearTeacherOnly);
        else if (!isUnloaded() && sent.fate != classqueue::Fate::stored)
            message(results::clearFailed);
    } else if (answer == ui::Answer::Ok && !whileResponsive([this] { return rankingFile.blank(); }) && !isUnloaded()) {
        message(results::clearFailed);
    }
    rankingFile.close();
    Unload();
}

void Form3::message(const MessageText& words)
{
    ui::MsgBox(ui::qtext(words.text), ui::qtext(words.title), ui::Icon::Exclamation);
}

void Form3::closedByFrame()
{
    // Leaving by the close box saves nothing; the file is released for the next opening.
    rankingFile.close();
    Unload();
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The results window's decisions without a window or a file: the row that follows the typed
// name, what 戻る saves, what is said as the window opens, and what the name box keeps; and
// what an answer of the class server means for an entry queued for it.
#include "rules/class_queue.h"
#include "rules/module1.h"
#include "rules/name_box.h"
#include "rules/results_window.h"
#include "support/text.h"

#include <QTest>

using results::ResultsWindow;

namespace {

// An opening of range hani with the score tensu over lists whose range r holds 10r+9 down to
// 10r+5, as the file was read.
void open(ResultsWindow& window, int hani, int tensu)
{
    for (int i = 0; i < 4 * results::places; ++i)
        window.lists.seisekijikan[i] = static_cast<std::int16_t>(i / 5 * 10 + 9 - i % 5);
    Module1::hani = static_cast<std::int16_t>(hani);
    Module1::tensu = static_cast<std::int16_t>(tensu);
    window.sounyuu();
    window.showLists();
}

} // namespace

class ResultsWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { Module1::reset(); }
    void typedNameFollowsIntoTheNewRow_data();
    void typedNameFollowsIntoTheNewRow();
    void nameBoxKeepsWhatFits_data();
    void nameBoxKeepsWhatFits();
    void classAnswerDecidesTheQueuedEntry_data();
    void classAnswerDecidesTheQueuedEntry();
};

void ResultsWindowTest::typedNameFollowsIntoTheNewRow_data()
{
    QTest::addColumn<int>("hani");
    QTest::addColumn<int>("tensu");
    QTest::addColumn<int>("touroku");
    QTest::addColumn<int>("row");      // -1: no row follows, nothing is saved
    QTest::addColumn<QString>("said"); // as the window opens

    const QString prompt = QStringLiteral("番です。名前を入力して下さい。");
    QTest::newRow("range 0, place 1") << 0 << 30 << 0 << 0 << "今回の記録、30点。1" + prompt;
    QTest::newRow("range 1, equal to place 3") << 1 << 17 << 0 << 2 << "今回の記録、17点。3" + prompt;
    QTest::newRow("range 2, place 5") << 2 << 25 << 0 << 4 << "今回の記録、25点。5" + prompt;
    QTest::newRow("range 3, place 2") << 3 << 38 << 0 << 1 << "今回の記録、38点。2" + prompt;
    QTest::newRow("viewing") << 1 << 0 << 0 << -1 << "今回の記録、0点。";
    QTest::newRow("short of the best five") << 3 << 34 << 0 << -1 << "今回の記録、34点。";
    QTest::newRow("already turned away") << 0 << 30 << 1 << -1 << "今回の記録、30点。";
}

// Guards against the name shown in another row than the new entry's (koko taken as a row, or
// mod 5 of the wrong thing), a row that follows the box when nothing was entered, 戻る saving
// another range, score or name than the new entry's, or saving at a viewing opening, and the
// score said with its blank, or the prompt said when no name is asked for.
void ResultsWindowTest::typedNameFollowsIntoTheNewRow()
{
    QFETCH(int, hani);
    QFETCH(int, tensu);
    QFETCH(int, touroku);
    QFETCH(int, row);
    QFETCH(QString, said);
    Module1::touroku = static_cast<std::int16_t>(touroku);
    ResultsWindow window;
    open(window, hani, tensu);
    QCOMPARE(window.screen.nameBoxShown, row >= 0);
    QCOMPARE(qs(window.said(u"今回の記録")), said);

    QCOMPARE(window.Text1_Change(u"やまだ"), row);
    QCOMPARE(window.Text1_Change(u"Kim"), row);
    const std::optional<results::NewEntry> entry = window.Command1_Click(u"Kim");
    QCOMPARE(entry.has_value(), row >= 0);
    if (row < 0)
        return;
    QCOMPARE(qs(window.screen.best[row].name), QStringLiteral("Kim"));
    QCOMPARE(qs(window.screen.best[row].score), QString::number(tensu));
    QCOMPARE(qs(window.screen.Label6), QStringLiteral(" %1番です。名前を入力して下さい。").arg(row + 1));
    QCOMPARE(int(entry->hani), hani);
    QCOMPARE(int(entry->tensu), tensu);
    QCOMPARE(qs(entry->name), QStringLiteral("Kim"));
}

void ResultsWindowTest::nameBoxKeepsWhatFits_data()
{
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("edited");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cursor");

    // Ten bytes: an ASCII letter or an emoji ("?") takes one, a kana two.
    QTest::newRow("typed into an empty box") << ""
                                             << "Taro"
                                             << "Taro" << 4;
    QTest::newRow("pasted past the end") << "abcdefgh"
                                         << "abcdefghXYZ"
                                         << "abcdefghXY" << 10;
    QTest::newRow("pasted in the middle") << "abcdefgh"
                                          << "abcXYZdefgh"
                                          << "abcXYdefgh" << 5;
    QTest::newRow("a kana that fits only by half") << "abcdefghi"
                                                   << "abcdefghiあ"
                                                   << "abcdefghi" << 9;
    QTest::newRow("a voiced mark composes with its kana") << "abcdefgh"
                                                          << "abcdefghか\u3099"
                                                          << "abcdefghが" << 9;
    QTest::newRow("emoji kept whole") << "abcdefghi"
                                      << "abcdefghi😀😀"
                                      << "abcdefghi😀" << 11;
    QTest::newRow("in the middle, before an emoji") << "abcdefg😀"
                                                    << "abcXYZdefg😀"
                                                    << "abcXYdefg😀" << 5;
    // 🈀 (U+1F200) and 😀 (U+1F600) share their second half.
    QTest::newRow("an emoji in place of one with the same second half") << "abcdefgh😀"
                                                                        << "abcdefgh🈀"
                                                                        << "abcdefgh🈀" << 10;
    // 😀 (U+1F600) and 😁 (U+1F601) share their first half: in a name set too long by the
    // program, the new one does not fit, and goes whole.
    QTest::newRow("an emoji in place of one with the same first half") << "abcdefgh😀ij"
                                                                       << "abcdefgh😁ij"
                                                                       << "abcdefghij" << 8;
    QTest::newRow("set too long by the program") << "abcdefghijkl"
                                                 << "abcdefghijklm"
                                                 << "abcdefghij" << 10;
}

// Guards against an insertion kept past the ten bytes or cut inside a character, the caret put
// anywhere but after the kept part of the insertion, and the name measured before it is composed.
void ResultsWindowTest::nameBoxKeepsWhatFits()
{
    QFETCH(QString, kept);
    QFETCH(QString, edited);
    QFETCH(QString, text);
    QFETCH(int, cursor);
    const results::KeptName box = results::keptName(u16(kept), u16(edited), [](std::u16string_view t) {
        return u16(qs(std::u16string(t)).normalized(QString::NormalizationForm_C));
    });
    QCOMPARE(qs(box.text), text);
    QCOMPARE(int(box.cursor), cursor);
}

void ResultsWindowTest::classAnswerDecidesTheQueuedEntry_data()
{
    using classqueue::Body;
    QTest::addColumn<int>("status"); // 0: no answer
    QTest::addColumn<int>("body");
    QTest::addColumn<QString>("fate");

    const int json = int(Body::serverJson), error = int(Body::serverError), other = int(Body::other);
    QTest::newRow("200 with the server's JSON") << 200 << json << "stored";
    QTest::newRow("200 with a portal's page") << 200 << other << "waiting";
    QTest::newRow("200 with an error member") << 200 << error << "waiting";
    QTest::newRow("201 with JSON") << 201 << json << "waiting";
    for (const int status : {400, 403, 404, 409, 413, 422})
        QTest::addRow("%d with the server's error", status) << status << error << "refused";
    QTest::newRow("400 with a proxy's page") << 400 << other << "waiting";
    QTest::newRow("404 with a proxy's page") << 404 << other << "waiting";
    QTest::newRow("404 with JSON but no error") << 404 << json << "waiting";
    QTest::newRow("401 with the server's error") << 401 << error << "waiting";
    QTest::newRow("405 with the server's error") << 405 << error << "waiting";
    QTest::newRow("429 with the server's error") << 429 << error << "waiting";
    QTest::newRow("500 with the server's error") << 500 << error << "waiting";
    QTest::newRow("502 with a proxy's page") << 502 << other << "waiting";
    QTest::newRow("503 with the server's error") << 503 << error << "waiting";
    QTest::newRow("no answer") << 0 << int(Body::none) << "waiting";
}

// Guards against a queued entry dropped on an answer that is not the server's refusal for good
// (a proxy's 404, a busy or broken server), and against one sent for ever after a refusal.
void ResultsWindowTest::classAnswerDecidesTheQueuedEntry()
{
    QFETCH(int, status);
    QFETCH(int, body);
    QFETCH(QString, fate);
    static const char* fates[] = {"stored", "refused", "waiting"};
    QCOMPARE(QString::fromLatin1(fates[int(classqueue::fateOf(status, classqueue::Body(body)))]), fate);
}

QTEST_MAIN(ResultsWindowTest)
#include "tst_resultswindow.moc"

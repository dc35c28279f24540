// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "rules/message.h"
#include "rules/ranking.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the results window decides, free of any window and of the ranking file: its captions
// and states as plain data (Screen) and its handlers as functions (ResultsWindow). A front end
// makes one ResultsWindow per opening, reads the stored lists into `lists` (yomikomi), then
// calls sounyuu and showLists and shows the screen; the file's reading, saving and clearing
// stay the front end's. The handlers read Module1's tensu, hani and anatakiroku, and sounyuu
// writes anatakiroku and touroku.
namespace results {

// One row of a list: its place in number text, its name, its score in plain digits.
struct Row {
    std::u16string place;
    std::u16string name;
    std::u16string score;
};

// The captions and states of the controls that an opening fills.
struct Screen {
    std::u16string jikan9; // the score handed over, in number text: " 0" for a viewing opening
    // Label6 and Text1: shown when the score entered the best five. The focus then starts in
    // the name box, else on 戻る.
    bool nameBoxShown = false;
    std::u16string Label6; // the prompt: " 2番です。名前を入力して下さい。", set whether shown or not
    std::u16string enz0;   // the range's name; empty for a range without one: the designed caption stays
    Row best[places];      // jyun, namae, jikan: the best five of range hani
    // jyun1 and jikan1: the run's best three of range hani. The names are not shown, and row 0's
    // place is not written: jyun1(0) keeps its designed caption.
    Row run[runPlaces];
};

// The results window's messages. The question asks with the question icon, OK and Cancel
// (Cancel the default); the others tell with the exclamation icon and an OK button.
inline const MessageText clearQuestion{u"成績一覧の名前と時間を消去しますか？", u"確認"};
inline const MessageText clearFailed{u"成績一覧を消去できませんでした。", u"初期化"};
inline const MessageText saveFailed{u"成績を保存できませんでした。", u"保存"};

class ResultsWindow {
public:
    Screen screen;
    BestFiveLists lists;   // seisekijikan, seisekinamae: as read, then with the new score entered
    std::int16_t koko = 0; // index of the new entry in the lists
    bool entered = false;  // the score entered the best five at this opening

    // Enters tensu (enterScore): into the run's best three of range hani and, where it reaches
    // them, the best five in `lists`, which the front end has read first. Sets jikan9 and
    // whether the name box shows.
    void sounyuu();
    // The rest of the load, after sounyuu: the prompt with the new entry's place, the range's
    // name and the rows of both lists for range hani.
    void showLists();
    // What a screen reader says as the window opens: `heading` (Label2's caption, "今回の記録"),
    // the score, and the prompt when the name box shows.
    std::u16string said(std::u16string_view heading) const;
    // The name box's text changed to `typed`: the row of the new entry (koko mod 5) shows it.
    // Returns that row, or -1 when no score entered at this opening (no row follows the box).
    int Text1_Change(std::u16string_view typed);
    // 戻る, and Enter in the name box: when a score entered the best five at this opening, its
    // entry takes the typed name, even an empty one, and comes back to be saved into the file as
    // the file holds it then; otherwise nothing is to be saved.
    std::optional<NewEntry> Command1_Click(std::u16string_view typed);
};

} // namespace results

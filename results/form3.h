// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classlink/class_ranking.h"
#include "rules/results_window.h"
#include "storage/ranking_file.h"
#include "ui/control_array.h"
#include "ui/controls.h"
#include "ui/form.h"

#include <cstdint>
#include <memory>
#include <optional>

// The results window: the best five of the current x-value range with names, the best three
// of this run and the score just made. A score that reaches the best five gets a name box;
// 戻る (or Enter) saves the name into tavon.rnk, 初期化 clears the stored lists. Created
// afresh at each opening and unloaded by its buttons; the ranking file is open meanwhile.
// options: where that file is kept and how its saves meet other running copies. Where the
// program's directory holds a class link (classlink/class_link.h), the lists are the class's
// on the class server instead, and classOptions tell how long the server is waited for.
class Form3 : public ui::Form {
    Q_OBJECT
public:
    explicit Form3(storage::RankingOptions options, classlink::ClassOptions classOptions = {});

    // Controls, named as in the window's design.
    ui::Label* Label1 = nullptr;                                  // heading "成績一覧"
    ui::Label* Label2 = nullptr;                                  // heading "今回の記録"
    ui::Label* Label3 = nullptr;                                  // heading "あなたの記録"
    ui::Label* Label4 = nullptr;                                  // "ｘの値"
    ui::Label* Label6 = nullptr;                                  // prompt for the name
    ui::Label* enz0 = nullptr;                                    // the range
    ui::Label* jikan9 = nullptr;                                  // the score just made
    ui::ControlArray<ui::Label> jyun{QStringLiteral("jyun")};     // places of the best five
    ui::ControlArray<ui::Label> namae{QStringLiteral("namae")};   // names of the best five
    ui::ControlArray<ui::Label> jikan{QStringLiteral("jikan")};   // scores of the best five
    ui::ControlArray<ui::Label> jyun1{QStringLiteral("jyun1")};   // places of the run's best three
    ui::ControlArray<ui::Label> jikan1{QStringLiteral("jikan1")}; // scores of the run's best three
    ui::TextBox* Text1 = nullptr;                                 // name box
    QPushButton* Command1 = nullptr;                              // 戻る
    QPushButton* Command2 = nullptr;                              // 初期化
    ui::Line* Line1 = nullptr;
    ui::Line* Line2 = nullptr;
    ui::Line* Line3 = nullptr;

    // What one opening shows and decides: the lists, the new entry, the rows.
    results::ResultsWindow model;
    storage::RankingFile rankingFile;
    std::unique_ptr<classlink::ClassRanking> classRanking; // null without a class link
    classlink::ClassOptions classOpts;
    // The finished game an opening at its end is for: a class entry carries it.
    std::optional<classlink::PlayedGame> played;

    // Event handlers.
    void Command1_Click();
    void Command2_Click();
    void Text1_Change();
    void Text1_KeyPress(std::int16_t& KeyAscii);

protected:
    void Form_Load() override;
    void closedByFrame() override;

private:
    void createControls();
    void yomikomi();
    void sounyuu();
    // The model's prompt, range and rows in the controls; the rows below element 0 are created.
    void showRows();
    // The lists as tables, the prompt as the name box's label, and the score said on opening.
    void showToScreenReaders();
    void message(const MessageText& words);
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/look.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class QTextLayout;

#include <cstdint>
#include <functional>

// The controls the windows are built from. Geometry is in logical pixels of the
// parent's client area (see twipsRect); every control is named for tests and tools.
namespace ui {

struct LabelDef {
    QString name;
    QString caption;
    QRect geometry;
    Look look;
    bool autoSize = false; // the label shrinks or grows to fit its caption, keeping its top-left
    bool wordWrap = false; // long captions wrap within the width (Japanese may break anywhere)
};

// Text is laid out at the top of the label in lines exactly one em high, as the windows
// were designed, rather than with the taller line spacing of the substitute fonts. Every
// glyph is shown whole with the substitute face:
//  - the first baseline sits at the designed 0.86 em, or lower where the caption's glyphs
//    reach higher than that;
//  - a label that sizes itself to its text takes its line box from the face's own ascent
//    and descent (or the glyphs, where they reach further), keeping its top-left;
//  - a one-line caption wider than its fixed label is drawn in the label's face condensed
//    horizontally just enough to fit (the label's font() then carries that stretch).
class Label : public QLabel {
    Q_OBJECT
public:
    Label(QWidget* parent, const LabelDef& def);

    QString caption() const { return text(); }
    void setCaption(const QString& caption);

    // A hidden copy with the same size, font, colours and alignment, for control arrays.
    Label* cloneAs(const QString& name) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    int heightForWidth(int width) const override;
    // Height of one line of the caption: the font's pixel size, or for a label that sizes
    // itself, the face's ascent and descent.
    int lineHeight() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Lays the caption out within `width` pixels; returns the widest line's width.
    qreal layOut(QTextLayout& layout, int width) const;
    // Distance from the top of the first line to its baseline.
    int firstBaseline() const;
    // Condenses the font of a fixed one-line label whose caption is too wide for it.
    void fitCaption();

    bool autoSize;
    bool condensed = false;
    QFont designFont; // the font before condensing; valid while `condensed`
};

struct ButtonDef {
    QString name;
    QString caption;
    QRect geometry;
    Look look;                          // only the font applies: buttons keep the platform's colours
    std::function<void()> onClick = {}; // the handler of a click
};

QPushButton* addButton(QWidget* parent, const ButtonDef& def);

// A captioned panel; its children are placed from the panel's own top-left corner.
// The whole panel is filled with the look's back colour; an etched border starts halfway
// down the caption, which is drawn at the top left in the look's font and text colour.
class Frame : public QGroupBox {
    Q_OBJECT
public:
    Frame(QWidget* parent, const QString& name, const QString& caption, const QRect& geometry, const Look& look);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The character code a KeyPress handler receives for Enter.
inline constexpr std::int16_t enterKey = 13;

// A single-line text box with the Change and KeyPress events of the windows.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    TextBox(QWidget* parent, const QString& name, const QRect& geometry, const Look& look);

    std::function<void()> onChange;
    // Receives the character code of each typed key (13 for Enter) before the box sees it.
    std::function<void(std::int16_t& keyAscii)> onKeyPress;

    // What the box keeps of an edit (typed, pasted, committed by an input method, or set by
    // the program) that turned the text `kept` into `edited`, and where the cursor goes in it;
    // without it, every edit. An input method's composition is left alone until committed.
    // Change runs only for the text kept.
    std::function<QString(const QString& kept, const QString& edited, qsizetype& cursor)> keep;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString kept;           // the text as last kept
    bool adjusting = false; // the box is putting the kept text in place of the edited one
};

// A straight line of a given pixel width, drawn above the controls created before it.
class Line : public QWidget {
    Q_OBJECT
public:
    Line(QWidget* parent, const QString& name, QPoint from, QPoint to, int width, const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPoint p1, p2;
    int penWidth;
    QColor penColor;
};

} // namespace ui

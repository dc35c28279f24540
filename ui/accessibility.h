// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

class QLabel;
class QWidget;

// What screen readers see of the program's windows, beyond what Qt's widgets tell them:
// windows as windows, lines left out, groups of labels as tables, the label of a text box,
// and announcements spoken without moving the focus.
namespace ui {

// Installs the program's view for screen readers; call once, before any window is created.
void installAccessibility();

// Has the screen reader say `text` once, as a notification of `window`, without moving the
// focus. Texts announced during one turn of the event loop are spoken together, in order,
// as one utterance. A window that has not been active since it was shown speaks once it is.
void announce(QWidget* window, const QString& text);

// Has the screen reader say `text` each time the program shows `window` (its first display
// included), once the window is active, as announce does; a window only brought to the front
// says nothing new.
void announceWhenShown(QWidget* window, const QString& text);

// The text announced last in `window` (empty if none): what the screen reader was given.
QString lastAnnouncement(const QWidget* window);

// What a control is, read when the pupil reviews the window. Its name stays its caption.
void describe(QWidget* control, const QString& description);

// Shows labels that the eye reads as a table as one table, named `name`: `rows` top to
// bottom, each row's widgets left to right, the first one its header. A cell is named by
// the caption it shows, without the blanks around it. The table takes, among the container's
// children, the place of its first widget.
void makeTable(const QString& name, const QList<QList<QWidget*>>& rows);

// The box is labelled by `label`: its name is the label's caption.
void labelBy(QWidget* box, QLabel* label);

} // namespace ui

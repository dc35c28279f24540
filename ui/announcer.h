// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace ui {

// An invisible notification of a window: shown with the announcement as its name, which
// screen readers speak at once, wherever the focus is; hidden again a little later, so that
// reviewing the window does not meet it. A window that is being shown speaks once it has
// been activated (or after a second at most), after the screen reader has named the window
// and its focus. The accessibility layer gives it the role of a notification.
class Announcer : public QWidget {
public:
    explicit Announcer(QWidget* window);

    void add(const QString& text);

    QString last;   // what was spoken last
    QString onShow; // said each time the program shows the window

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent*) override {}

private:
    void flush();

    QStringList pending;
    QTimer retire;
    QTimer activation;
    bool posted = false;
};

} // namespace ui

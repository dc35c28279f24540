// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QWidget>

#include <functional>

class QMenu;
class QMenuBar;
class QAction;

namespace ui {

struct FormDesign {
    QString name;
    QString caption;
    int clientWidth = 0; // pixels
    int clientHeight = 0;
    QColor back;
    int fontPixels = 0; // 0: the platform's user-interface font
    bool withMenuBar = false;
};

// A top-level window of the program with a client area of fixed size (below the menu bar,
// if any) that holds its controls, and the lifecycle the windows rely on:
//  - Form_Load runs once, at the first Show, before the window is displayed;
//  - Show brings the window up and makes it active; a modal Show returns only after the
//    window has been unloaded, and meanwhile the other windows take no input;
//  - Hide keeps the window and its state; Unload hides it at once and destroys it, with its
//    run-time controls, once control has left it: never while a message box or modal window
//    is open (a handler of the window may be waiting on it), and a message box the window
//    opened closes with it, answered キャンセル;
//  - Form_Activate runs at the first display and whenever the window becomes active after
//    another of the program's windows was active; not when a message box closes, and not
//    when the user comes back from another application.
class Form : public QWidget {
    Q_OBJECT
public:
    explicit Form(const FormDesign& design);
    ~Form() override;

    QWidget* client() const { return clientArea; }
    QMenuBar* menuBar() const { return menus; }

    void Show(bool modal = false);
    void Hide();
    void Unload();

    bool isLoaded() const { return loaded; }
    bool isUnloaded() const { return unloadedFlag; }

    // Called whenever the window system activates this window; decides whether the
    // activation is one Form_Activate must see and, if so, runs it from the event queue.
    void windowActivated();

    // The window a message box asked for now belongs to: the active window of the program
    // (or the one a box that is active belongs to), else the one active most recently that
    // is still there; never one that has been unloaded. May be null.
    static Form* owningWindow();

signals:
    void unloaded();

protected:
    virtual void Form_Load() {}
    virtual void Form_Activate() {}
    // The frame's close box. Unloads the window unless a window decides otherwise.
    virtual void closedByFrame() { Unload(); }

    QMenu* addMenu(const QString& name, const QString& title);
    QAction* addMenuItem(QMenu* menu, const QString& name, const QString& caption, std::function<void()> onClick);
    void addSeparator(QMenu* menu, const QString& name);

    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void placeOnScreen();

    QWidget* clientArea = nullptr;
    QMenuBar* menus = nullptr;
    bool loaded = false;
    bool unloadedFlag = false;
    bool placed = false;
};

// Marks a nested event loop of the program (a message box, a modal window) for its
// lifetime. Windows unloaded while any runs are destroyed after the outermost has ended, so
// that no handler or loop waiting further down the stack is left in a deleted window.
class NestedLoop {
public:
    NestedLoop();
    ~NestedLoop();
    NestedLoop(const NestedLoop&) = delete;
    NestedLoop& operator=(const NestedLoop&) = delete;
};

} // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
// The keys that press buttons, in the program's windows and its message boxes.
#include "support/fake_services.h"
#include "support/real_modals.h"
#include "ui/application.h"
#include "ui/controls.h"
#include "ui/form.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>

namespace {

// Where keys go: a window's button, its name box, a button of a plain dialog, or the focused
// button of the program's message box (OK alone) or question (OK and キャンセル).
enum class Target { Button, NameBox, DialogButton, MessageBox, QuestionBox };

// One key event: the key going down or up, whether Qt marks it as a repeat, and its time
// stamp in milliseconds (0: none, as in events that the program makes itself).
struct Stroke {
    QEvent::Type type;
    QKeyCombination key;
    quint64 time = 0;
    bool repeat = false;
};
using Strokes = QList<Stroke>;

Stroke down(QKeyCombination key, quint64 time = 0)
{
    return {QEvent::KeyPress, key, time};
}
Stroke up(QKeyCombination key, quint64 time = 0)
{
    return {QEvent::KeyRelease, key, time};
}
// Qt's repeat of a held key, marked as one.
Stroke repeat(QKeyCombination key)
{
    return {QEvent::KeyPress, key, 0, true};
}
Strokes tap(QKeyCombination key)
{
    return {down(key), up(key)};
}

// Sends the strokes to `widget`, each time stamp moved on by `base`.
void send(const Strokes& strokes, QWidget* widget, quint64 base)
{
    for (const Stroke& s : strokes) {
        const int key = s.key.key();
        const QString text = key == Qt::Key_Space                   ? QStringLiteral(" ")
                             : key >= Qt::Key_A && key <= Qt::Key_Z ? QString(QChar(key).toLower())
                                                                    : QString();
        QKeyEvent event(s.type, key, s.key.keyboardModifiers(), text, s.repeat);
        event.setTimestamp(s.time != 0 ? base + s.time : 0);
        QApplication::sendEvent(widget, &event);
    }
}

} // namespace

Q_DECLARE_METATYPE(Strokes)

class KeyboardTest : public FakeServicesTest {
    Q_OBJECT
private slots:
    void keysPressTheFocusedButtonOnce_data();
    void keysPressTheFocusedButtonOnce();
};

void KeyboardTest::keysPressTheFocusedButtonOnce_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<Strokes>("strokes");
    QTest::addColumn<int>("clicks");       // of the button; of a box: 1 if the keys closed it
    QTest::addColumn<QList<int>>("codes"); // the name box's KeyPress codes
    const QKeyCombination enter(Qt::Key_Return), space(Qt::Key_Space), escape(Qt::Key_Escape);
    const QList<int> none;
    // A held key repeats as a release and a press with one time stamp (here 700); Qt does not
    // always mark them as repeats.
    QTest::newRow("Return on a button") << Target::Button << tap(enter) << 1 << none;
    QTest::newRow("keypad Enter") << Target::Button << tap(Qt::KeypadModifier | Qt::Key_Enter) << 1 << none;
    QTest::newRow("Return held down") << Target::Button << Strokes{repeat(enter)} << 0 << none;
    QTest::newRow("Ctrl+Return") << Target::Button << tap(Qt::ControlModifier | Qt::Key_Return) << 0 << none;
    QTest::newRow("Return held, repeat unmarked")
        << Target::Button << Strokes{down(enter, 100), up(enter, 700), down(enter, 700)} << 1 << none;
    QTest::newRow("Return pressed twice")
        << Target::Button << Strokes{down(enter, 100), up(enter, 160), down(enter, 300)} << 2 << none;
    QTest::newRow("Space held, repeat unmarked")
        << Target::Button << Strokes{down(space, 100), up(space, 700), down(space, 700), up(space, 900)} << 1 << none;
    QTest::newRow("Return in the name box") << Target::NameBox << tap(enter) << 0 << QList<int>{ui::enterKey};
    QTest::newRow("Return held in the name box") << Target::NameBox << Strokes{repeat(enter)} << 0 << none;
    QTest::newRow("a letter held in the name box")
        << Target::NameBox << Strokes{down(Qt::Key_A), repeat(Qt::Key_A), repeat(Qt::Key_A)} << 0
        << QList<int>{97, 97, 97};
    QTest::newRow("Space held in the name box")
        << Target::NameBox << Strokes{down(space, 100), up(space, 700), down(space, 700), repeat(space)} << 0
        << QList<int>{32, 32, 32};
    QTest::newRow("Return in a dialog") << Target::DialogButton << tap(enter) << 0 << none;
    QTest::newRow("Return on a message box") << Target::MessageBox << tap(enter) << 1 << none;
    QTest::newRow("Return held on a message box") << Target::MessageBox << Strokes{repeat(enter)} << 0 << none;
    QTest::newRow("Escape held on a message box") << Target::MessageBox << Strokes{repeat(escape)} << 0 << none;
    QTest::newRow("Return held on a message box, repeat unmarked")
        << Target::MessageBox << Strokes{up(enter, 700), down(enter, 700)} << 0 << none;
    QTest::newRow("Space held on a message box, repeat unmarked")
        << Target::MessageBox << Strokes{up(space, 700), down(space, 700), up(space, 900)} << 0 << none;
    QTest::newRow("Space on a message box")
        << Target::MessageBox << Strokes{down(space, 100), up(space, 180)} << 1 << none;
    QTest::newRow("Return held on the question") << Target::QuestionBox << Strokes{repeat(enter)} << 0 << none;
    QTest::newRow("Escape on the question") << Target::QuestionBox << tap(escape) << 1 << none;
}

// Guards against Enter doing nothing on a focused button, pressing one where it must not
// (name box, dialogs, with modifiers), making a button a default button, or a key held down
// pressing more than once: a held Enter, Escape or Space that presses a button, closes a
// message box or enters the name in a window that came up meanwhile, whether or not Qt marked
// its repeats; held letters and Space still type in the name box.
void KeyboardTest::keysPressTheFocusedButtonOnce()
{
    QFETCH(Target, target);
    QFETCH(Strokes, strokes);
    QFETCH(int, clicks);
    QFETCH(QList<int>, codes);
    static quint64 base = 0; // each row at times of its own
    base += 10000;
    if (target == Target::MessageBox || target == Target::QuestionBox) {
        bool onButton = false, closed = false;
        RealModals modals([&](QWidget& box) {
            QWidget* focus = QTest::qWaitForWindowActive(&box) ? box.focusWidget() : nullptr;
            onButton = qobject_cast<QPushButton*>(focus);
            if (onButton)
                send(strokes, focus, base);
            closed = !box.isVisible();
            if (!closed)
                static_cast<QDialog&>(box).reject();
        });
        ui::MsgBox(QStringLiteral("再スタートは，"), QStringLiteral("再スタート"), ui::Icon::Exclamation,
                   target == Target::QuestionBox ? ui::Buttons::OkCancel : ui::Buttons::Ok);
        QVERIFY(onButton);
        QCOMPARE(int(closed), clicks);
        return;
    }
    ui::Form form({QStringLiteral("K"), QStringLiteral("K"), 272, 418});
    QPushButton* button = ui::addButton(
        form.client(), {QStringLiteral("Command1"), QStringLiteral("戻る"), QRect(216, 384, 49, 25), {14}});
    ui::TextBox box(form.client(), QStringLiteral("Text1"), QRect(88, 384, 121, 27), {18});
    QList<int> typed;
    box.onKeyPress = [&](std::int16_t& code) { typed << code; };
    QDialog dialog;
    auto* inDialog = new QPushButton(QStringLiteral("OK"), &dialog);
    inDialog->setAutoDefault(false);
    int pressed = 0;
    for (QPushButton* b : {button, inDialog})
        QObject::connect(b, &QPushButton::clicked, [&] { ++pressed; });
    QWidget* focus = target == Target::Button    ? static_cast<QWidget*>(button)
                     : target == Target::NameBox ? static_cast<QWidget*>(&box)
                                                 : inDialog;
    focus->window()->show();
    QVERIFY(QTest::qWaitForWindowActive(focus->window()));
    focus->setFocus();
    send(strokes, focus, base);
    QCOMPARE(pressed, clicks);
    QCOMPARE(typed, codes);
    QVERIFY(!button->isDefault());
}

QTEST_MAIN(KeyboardTest)
#include "tst_keyboard.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// What the pupil sees, checked from rendered pixels: every control where the window's design
// puts it, in its colours, lines over the table, captions that fit, Japanese glyphs, a focus
// mark on the focused button and ticks in the range menu. The checks of focus, ticks and
// whole glyphs also run at Qt scale factor 2 (tst_fidelity_scale2).
// The expected values are the design's own (twips and #RRGGBB), written out here once more;
// twips become pixels by the window layer's own conversion.
#include "rules/module1.h"
#include "app/windows.h"
#include "game/form1.h"
#include "help/form2.h"
#include "results/form3.h"
#include "support/game_fixture.h"
#include "ui/application.h"
#include "ui/twips.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QMenu>
#include <QStyle>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <map>
#include <optional>

namespace {

struct Expect {
    QString name;
    int left, top, width, height; // twips
    std::optional<QRgb> back;     // none: not checked
    std::optional<QRgb> text;     // none: not checked
    bool sizedToText = false;     // only the top-left corner is the design's
    QRect rect() const { return ui::twipsRect(left, top, width, height); }
};

QImage grabbed(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The colour that covers most of a rectangle of the image (black for none of it).
QRgb dominant(const QImage& image, const QRect& rect)
{
    std::map<QRgb, int> counts{{0, 0}};
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) & 0xFFFFFF];
    return std::max_element(counts.begin(), counts.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; })->first;
}

// Pixels of a colour, or within `tolerance` of it in every channel (the cores of small,
// smoothed glyphs are seldom exactly the text colour).
int countColour(const QImage& image, const QRect& rect, QRgb colour, int tolerance = 0)
{
    int n = 0;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            n += qAbs(qRed(p) - qRed(colour)) <= tolerance && qAbs(qGreen(p) - qGreen(colour)) <= tolerance
                 && qAbs(qBlue(p) - qBlue(colour)) <= tolerance;
        }
    return n;
}

// Checks one control: shown, where the design puts it, and its back and text colours in the
// rendered client area.
void checkControl(ui::Form& form, const QImage& image, const Expect& e)
{
    auto* control = form.client()->findChild<QWidget*>(e.name);
    QVERIFY2(control && control->isVisible(), qPrintable(e.name));
    const QRect onScreen(control->mapTo(form.client(), QPoint(0, 0)), control->size());
    // Answer buttons are placed from the frame's corner.
    const QRect placed = e.name.startsWith(QLatin1String("kotae")) ? control->geometry() : onScreen;
    QVERIFY2(placed == (e.sizedToText ? QRect(e.rect().topLeft(), placed.size()) : e.rect()),
             qPrintable(QStringLiteral("%1 at %2,%3 %4x%5").arg(e.name).arg(placed.x()).arg(placed.y())
                            .arg(placed.width()).arg(placed.height())));
    const QRgb shows = dominant(image, onScreen);
    const auto hex = [](QRgb c) { return QStringLiteral("#%1").arg(c, 6, 16, QLatin1Char('0')); };
    QVERIFY2(!e.back || shows == *e.back, qPrintable(QStringLiteral("%1 shows %2").arg(e.name, hex(shows))));
    QVERIFY2(!e.text || countColour(image, onScreen, *e.text, 40) > 10,
             qPrintable(QStringLiteral("%1 has no text in %2").arg(e.name, hex(*e.text))));
}

// Every character of every caption on the window has a glyph in the face it is drawn with.
void checkGlyphs(ui::Form& form)
{
    for (QWidget* w : form.findChildren<QWidget*>())
        for (const QChar c : w->property("text").toString())
            QVERIFY2(c.isSpace() || QFontMetrics(w->font()).inFont(c),
                     qPrintable(w->objectName() + QStringLiteral(": no glyph for ") + c));
}

// The window's client size, its ground at one point, each control, and the glyphs of every caption.
void checkWindow(ui::Form& form, QSize size, QPoint ground, QRgb colour, const QList<Expect>& controls)
{
    QCOMPARE(form.client()->size(), size);
    const QImage image = grabbed(form.client());
    QCOMPARE(image.pixel(ground) & 0xFFFFFF, colour);
    for (const Expect& e : controls)
        checkControl(form, image, e);
    checkGlyphs(form);
}

// Bounding box (device pixels) of the pixels that differ from `back` by more than 40 in a channel.
QRect inkBounds(const QImage& image, QRgb back)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (countColour(image, QRect(x, y, 1, 1), back, 40) == 0)
                box |= QRect(x, y, 1, 1);
    return box;
}

// Each label is drawn as the pupil sees it and again with room to spare on every side; the
// ink must be the same both times, or something was cut off at the label's edges.
void checkCaptionsWhole(ui::Form& form)
{
    QStringList cut;
    const int room = 40;
    for (ui::Label* label : form.findChildren<ui::Label*>()) {
        if (label->caption().trimmed().isEmpty() || !label->isVisible())
            continue;
        const QRgb back = label->palette().color(QPalette::Window).rgb();
        const QImage asShown = grabbed(label);
        const QSize size = label->size();
        label->setContentsMargins(room, room, room, room);
        label->resize(size + QSize(2 * room, 2 * room));
        const QImage withRoom = grabbed(label);
        label->setContentsMargins(0, 0, 0, 0);
        label->resize(size);
        const int shift = qRound(room * withRoom.devicePixelRatio());
        if (inkBounds(asShown, back).translated(shift, shift) != inkBounds(withRoom, back))
            cut << label->objectName() + QLatin1Char(' ') + label->caption();
    }
    QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("cut: ") + cut.join(QStringLiteral(", "))));
}

} // namespace

class FidelityTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ui::initApplication(*qApp); }
    void focusedButtonShowsAMark_data();
    void focusedButtonShowsAMark();
    void rangeMenuMarksOnlyTheCurrentRange_data();
    void rangeMenuMarksOnlyTheCurrentRange();
    void captionsAreWhole();
    void gameWindow_data();
    void gameWindow();
    void resultsWindowAskingForAName();
    void helpWindow();
};

void FidelityTest::gameWindow_data()
{
    QTest::addColumn<bool>("question");
    QTest::newRow("after start-up") << false;
    QTest::newRow("with a question") << true;
}

// Guards against a control moved, resized or recoloured, the table's lines hidden under it, or
// the table's numbers drawn in the wrong colour or not at all.
void FidelityTest::gameWindow()
{
    QFETCH(bool, question);
    GameFixture game;
    Form1& f = game.form();
    game.scriptQuestionOfKind(2);
    if (question)
        f.Command1_Click();
    const auto cell = [](int i) {
        return Expect{QStringLiteral("mondai(%1)").arg(i), 3120 + 1080 * (i % 5), i < 5 ? 360 : 1320, 1095, 735, 0x0000FF, {}};
    };
    QList<Expect> controls = {
        {"Command1", 2880, 4680, 2055, 855, {}, {}},
        {"Command3", 5160, 4680, 2175, 495, {}, {}},
        {"Command5", 7080, 5280, 1455, 615, {}, {}},
        {"tokutenyo", 120, 4680, 2655, 1215, {}, {}},
        {"helpyo", 7560, 4680, 975, 495, {}, {}},
        {"Frame1", 2880, 2160, 5655, 2415, 0xFF8000, 0x0000C0},
        {"kotae(0)", 360, 600, 2415, 495, {}, {}},
        {"kotae(1)", 3000, 600, 2415, 495, {}, {}},
        {"kotae(2)", 360, 1200, 2415, 495, {}, {}},
        {"kotae(4)", 1200, 1800, 4215, 495, {}, {}},
        {"Label1", 2280, 120, 855, 975, 0x0000FF, 0xFFFFFF},
        {"Label2", 2280, 1080, 855, 975, 0x0000FF, 0xFFFFFF},
        {"Label3", 3120, 120, 5415, 255, 0x0000FF, {}},
        {"Label4", 3120, 1080, 5415, 255, 0x0000FF, {}},
        {"tokuten", 120, 2160, 2655, 2415, 0x004000, 0x00FF00},
        {"monbang", 960, 120, 1215, 435, 0xFF0000, 0x0000FF, true},
    };
    for (int i = 0; i < 10; ++i)
        controls.push_back(cell(i));
    for (int i = 0; i < 5; ++i) {
        controls.push_back({QStringLiteral("bango(%1)").arg(i), 120, 120 + 360 * i, 255, 375, 0x000080, 0xFFFFFF});
        controls.push_back({QStringLiteral("sikiyo(%1)").arg(i), 480, 120 + 360 * i, 375, 375, 0xFFFF00, {}});
    }
    checkWindow(f, QSize(580, 401), QPoint(146, 140), 0x008000, controls);
    const QImage image = grabbed(f.client());
    if (question) { // the numbers in white, exactly, and the points "10"
        for (int i = 0; i < 10; ++i)
            QVERIFY2(countColour(image, cell(i).rect(), 0xFFFFFF) > 20, qPrintable(cell(i).name));
        QVERIFY(countColour(image, ui::twipsRect(120, 2160, 2655, 2415), 0x00FF00) > 200);
    }
    // The white lines run over the blue cells they cross.
    for (QPoint p : {QPoint(300, 80), QPoint(560, 80), QPoint(160, 80), QPoint(208, 15), QPoint(208, 60), QPoint(208, 120)})
        QVERIFY2((image.pixel(p) & 0xFFFFFF) == 0xFFFFFF, qPrintable(QStringLiteral("no line at %1,%2").arg(p.x()).arg(p.y())));

    // The longest answer fits on one line of its button.
    QPushButton& last = f.kotae(4);
    QVERIFY(QFontMetrics(last.font()).horizontalAdvance(last.text()) + 8 <= last.width());
    QVERIFY(last.sizeHint().width() <= last.width());
}

void FidelityTest::focusedButtonShowsAMark_data()
{
    QTest::addColumn<int>("window"); // 1 game, 2 help, 3 results; -1 game with a question
    QTest::addColumn<QString>("button");
    QTest::newRow("スタート on the green game window") << 1 << QStringLiteral("Command1");
    QTest::newRow("an answer on the orange frame") << -1 << QStringLiteral("kotae(1)");
    QTest::newRow("戻る on the light green results window") << 3 << QStringLiteral("Command1");
    QTest::newRow("戻る on the blue help window") << 2 << QStringLiteral("Command1");
}

// Guards against a focus shown only as a faint tint of the border. "Clearly": the focused
// face differs from the same face unfocused in pixels whose grey level changes by 96 of 255
// or more, and these add up to at least a quarter of the button's outline.
void FidelityTest::focusedButtonShowsAMark()
{
    QFETCH(int, window);
    QFETCH(QString, button);
    GameFixture game;
    game.scriptQuestionOfKind(2);
    if (window < 0)
        game.form().Command1_Click();
    ui::Form& form = qAbs(window) == 1 ? static_cast<ui::Form&>(game.form())
                     : window == 2    ? static_cast<ui::Form&>(game.windows().form2())
                                      : static_cast<ui::Form&>(game.windows().form3());
    form.Show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto* face = form.findChild<QPushButton*>(button);
    face->clearFocus();
    const QImage unfocused = grabbed(face);
    face->setFocus();
    const QImage focused = grabbed(face);
    int strong = 0;
    for (int y = 0; y < focused.height(); ++y)
        for (int x = 0; x < focused.width(); ++x)
            strong += qAbs(qGray(focused.pixel(x, y)) - qGray(unfocused.pixel(x, y))) >= 96;
    QVERIFY2(strong * 2 >= focused.width() + focused.height(), qPrintable(QString::number(strong)));
}

void FidelityTest::rangeMenuMarksOnlyTheCurrentRange_data()
{
    QTest::addColumn<int>("range");
    QTest::newRow("－２～２ at start-up") << -1;
    QTest::newRow("－５～－１ chosen") << 2;
}

// Guards against tick boxes beside unchecked ranges or a missing tick beside the current
// one: only the current row has ink (its tick) left of where the unchecked rows' ink starts.
void FidelityTest::rangeMenuMarksOnlyTheCurrentRange()
{
    QFETCH(int, range);
    GameFixture game;
    Form1& f = game.form();
    if (range >= 0)
        f.en_Click(static_cast<std::int16_t>(range));
    const int current = Module1::hani;
    QMenu* menu = f.m4;
    menu->popup(f.mapToGlobal(QPoint(60, 20)));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    const QImage image = grabbed(menu);
    const qreal ratio = image.devicePixelRatio();
    QList<QRect> rows; // inside the menu's frame, in device pixels
    const int frame = menu->style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, menu) + 2;
    for (std::int16_t i = 0; i < 4; ++i) {
        const QRectF item = menu->actionGeometry(&f.en(i)).adjusted(frame, frame, -frame, -frame);
        rows << QRectF(item.topLeft() * ratio, item.size() * ratio).toRect();
        const QAccessibleInterface* entry = QAccessible::queryAccessibleInterface(menu)->child(i);
        QVERIFY(entry->state().checkable);
        QCOMPARE(entry->state().checked, i == current); // what screen readers are told
    }
    const QRgb back = image.pixel(rows[0].left() + 2, rows[0].top() + 1); // the menu's ground
    int captionStart = image.width();
    for (std::int16_t i = 0; i < 4; ++i)
        if (i != current)
            captionStart = qMin(captionStart, inkBounds(image.copy(rows[i]), back).left());
    for (std::int16_t i = 0; i < 4; ++i) {
        const QRect column(rows[i].left(), rows[i].top(), captionStart - qRound(2 * ratio), rows[i].height());
        QVERIFY2(inkBounds(image.copy(column), back).isEmpty() == (i != current), qPrintable(QString::number(i)));
    }
    menu->hide();
}

// Guards against glyphs cut at a label's edge: "10" of the points, the question number,
// the results heading, and every other caption of the three windows.
void FidelityTest::captionsAreWhole()
{
    GameFixture game;
    Form1& f = game.form();
    checkCaptionsWhole(f);
    game.scriptQuestionOfKind(2);
    f.Command1_Click();
    QCOMPARE(f.tokuten->caption(), QStringLiteral("10"));
    checkCaptionsWhole(f);
    f.tokuten->setCaption(QStringLiteral(" 0"));
    checkCaptionsWhole(f);
    Module1::tensu = 25;
    game.windows().form3().Show();
    checkCaptionsWhole(game.windows().form3());
    game.windows().form3().Unload();
    game.windows().form2().Show();
    checkCaptionsWhole(game.windows().form2());
}

// Guards against the results rows drifting from the first row, or the prompt clipped.
void FidelityTest::resultsWindowAskingForAName()
{
    GameFixture game;
    Module1::tensu = 25;
    Form3& r = game.windows().form3();
    r.Show();
    QList<Expect> controls = {
        {"Command2", 3240, 120, 732, 372, {}, {}},
        {"enz0", 1560, 600, 1695, 255, 0x80FF80, {}},
        {"Label2", 240, 4440, 972, 252, 0x80FF80, 0xFF0000},
        {"jikan9", 480, 4800, 855, 375, 0x80FF80, 0x000000},
        {"Label6", 120, 5400, 3852, 372, 0x80FF80, 0x004040},
        {"Text1", 1320, 5760, 1815, 405, 0x8080FF, {}},
        {"Command1", 3240, 5760, 732, 372, {}, {}},
        {"Label1", 120, 120, 1695, 405, 0x008000, 0xFF0000, true},
        {"Label4", 600, 600, 720, 285, 0x80FF80, 0x0000C0, true},
        {"Label3", 120, 3840, 1920, 315, 0x00FFFF, 0x0000FF, true},
    };
    // Rows of both lists stand 30 pixels (450 twips) apart, lined up with their first row.
    for (int i = 0; i < 5; ++i) {
        controls.push_back({QStringLiteral("jyun(%1)").arg(i), 240, 1200 + 450 * i, 372, 372, 0x80FF80, 0x000000});
        controls.push_back({QStringLiteral("namae(%1)").arg(i), 960, 1200 + 450 * i, 1935, 375, 0x80FF80,
                            i == 0 ? std::optional<QRgb>(0x000000) : std::nullopt}); // only the new entry has a name
        controls.push_back({QStringLiteral("jikan(%1)").arg(i), 3120, 1200 + 450 * i, 615, 375, 0x80FF80, 0x000000});
    }
    for (int i = 0; i < 3; ++i) {
        controls.push_back({QStringLiteral("jyun1(%1)").arg(i), 2400, 3840 + 450 * i, 375, 375, 0x80FF80, 0x000000});
        controls.push_back({QStringLiteral("jikan1(%1)").arg(i), 3120, 3840 + 450 * i, 615, 375, 0x80FF80, 0x000000});
    }
    checkWindow(r, QSize(272, 418), QPoint(40, 180), 0x80FF80, controls);
    // The black rules: the double rule under the list and the rule above the prompt.
    const QImage image = grabbed(r.client());
    for (int y : {240, 248, 352})
        QCOMPARE(image.pixel(100, y) & 0xFFFFFF, 0x000000u);

    auto* prompt = r.client()->findChild<ui::Label*>(QStringLiteral("Label6"));
    QVERIFY(prompt->sizeHint().width() <= prompt->width());
    r.Unload();
}

// Guards against the help window's blue or its text blocks losing their colours.
void FidelityTest::helpWindow()
{
    GameFixture game;
    game.windows().form2().Show();
    checkWindow(game.windows().form2(), QSize(406, 443), QPoint(10, 10), 0x0000FF, {
        {"Label2", 360, 240, 5550, 1095, 0x00FFFF, 0xFF0000},
        {"Label3", 360, 1560, 5535, 1455, 0x00FF00, 0x000000},
        {"Label4", 360, 3240, 5535, 1815, 0x00FF00, 0x000000},
        {"Label6", 360, 5280, 5535, 615, 0x00FF00, 0x000000},
        {"Command1", 4680, 6000, 1095, 540, {}, {}},
    });
}

QTEST_MAIN(FidelityTest)
#include "tst_fidelity.moc"

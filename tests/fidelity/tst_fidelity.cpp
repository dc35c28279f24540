// SPDX-License-Identifier: GPL-3.0-or-later
// What the pupil sees, checked from rendered pixels: every control where the window's design
// puts it, in its colours, lines over the table, captions that fit, Japanese glyphs, a focus
// mark on the focused button and ticks in the range menu. The checks of focus, ticks and
// whole glyphs also run at Qt scale factor 2 (tst_fidelity_scale2).
// The expected places, sizes and colours are written out by hand (designed_places.h), apart from
// the design table that builds the windows; twips become pixels by the
// library's own conversion.
#include "rules/design.h"
#include "rules/game_window.h"
#include "rules/module1.h"
#include "app/windows.h"
#include "game/form1.h"
#include "help/form2.h"
#include "results/form3.h"
#include "designed_places.h"
#include "support/game_fixture.h"
#include "windows/design.h"

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
    QRect rect;               // pixels, in the client area (a frame's controls: in the frame)
    std::optional<QRgb> back; // none: not checked
    std::optional<QRgb> text; // none: not checked
    bool sizedToText = false; // only the top-left corner is the design's
    bool inFrame = false;
};

// What the table of designed places says of each control of a window, but those named in
// `hidden`.
template <std::size_t n>
QList<Expect> designed(const designedplaces::Place (&places)[n], const QStringList& hidden = {})
{
    QList<Expect> all;
    for (const designedplaces::Place& p : places)
        if (!hidden.contains(QLatin1String(p.name)))
            all.push_back({QLatin1String(p.name), windows::rect({p.left, p.top, p.width, p.height}), p.back, p.text,
                           p.sizedToText, p.inFrame});
    return all;
}

// Each control of a window, an array's copies one by one, as "name left,top widthxheight back
// text" in twips and colours: the design table's, and the table of designed places', which
// must say the same (a control moved by a twip, or added to the design alone, fails).
QString described(const QString& name, int left, int top, int width, int height, std::optional<QRgb> back,
                  std::optional<QRgb> text)
{
    const auto colour = [](std::optional<QRgb> c) { return c ? QString::number(*c, 16) : QStringLiteral("-"); };
    return QString::asprintf("%s %d,%d %dx%d ", qPrintable(name), left, top, width, height) + colour(back) + ' '
           + colour(text);
}
QStringList described(const design::Window& d)
{
    QStringList all;
    for (const design::Control& c : d.controls)
        for (int row = 0; row < c.rows; ++row) {
            const bool button = c.kind == design::Kind::button;
            const auto colour = [button](design::Colour k, bool black) {
                return button ? std::nullopt : std::optional<QRgb>(k == design::none ? (black ? 0 : k) : k);
            };
            all << described(
                row > 0 ? QStringLiteral("%1(%2)").arg(windows::qtext(c.name)).arg(row) : windows::objectName(c),
                c.rect.left, c.rect.top + d.rowStep * row, c.rect.width, c.rect.height,
                c.look.back == design::none ? std::nullopt : colour(c.look.back, false), colour(c.look.text, true));
        }
    return all;
}
template <std::size_t n>
QStringList described(const designedplaces::Place (&places)[n])
{
    QStringList all;
    for (const designedplaces::Place& p : places)
        all << described(QLatin1String(p.name), p.left, p.top, p.width, p.height, p.back, p.text);
    return all;
}

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
                            [](const auto& a, const auto& b) { return a.second < b.second; })
        ->first;
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
    const QRect placed = e.inFrame ? control->geometry() : onScreen;
    QVERIFY2(placed == (e.sizedToText ? QRect(e.rect.topLeft(), placed.size()) : e.rect),
             qPrintable(QString::asprintf("%s at %d,%d %dx%d", qPrintable(e.name), placed.x(), placed.y(),
                                          placed.width(), placed.height())));
    const QRgb shows = dominant(image, onScreen);
    const auto hex = [](QRgb c) { return QStringLiteral("#%1").arg(c, 6, 16, QLatin1Char('0')); };
    QVERIFY2(!e.back || shows == *e.back, qPrintable(QStringLiteral("%1 shows %2").arg(e.name, hex(shows))));
    const QString caption = control->property("text").toString() + control->property("title").toString();
    QVERIFY2(!e.text || caption.trimmed().isEmpty() || countColour(image, onScreen, *e.text, 40) > 10,
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
void checkWindow(ui::Form& form, const designedplaces::Client& d, QPoint ground, const QList<Expect>& controls)
{
    QCOMPARE(form.client()->size(), QSize(design::pixels(d.width), design::pixels(d.height)));
    const QImage image = grabbed(form.client());
    QCOMPARE(image.pixel(ground) & 0xFFFFFF, d.back);
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
    void initTestCase() { windows::initApplication(*qApp); }
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
    const design::Window& d = design::form1();
    QCOMPARE(described(d), described(designedplaces::form1));
    checkWindow(f, designedplaces::form1Client, QPoint(146, 140),
                designed(designedplaces::form1, {QStringLiteral("kotae(%1)").arg(game::hiddenAnswer)}));
    const QImage image = grabbed(f.client());
    if (question) { // the numbers in white, exactly, and the points "10"
        for (int i = 0; i < 2 * question::columns; ++i) {
            const design::Control& cell = d.control(u"mondai", i);
            QVERIFY2(countColour(image, windows::rect(cell.rect), QRgb(cell.look.text)) > 20,
                     qPrintable(QString::number(i)));
        }
        const design::Control& points = d.control(u"tokuten");
        QVERIFY(countColour(image, windows::rect(points.rect), QRgb(points.look.text)) > 200);
    }
    // The white lines run over the blue cells they cross: a quarter, half and three quarters along.
    for (const design::Line& l : d.lines)
        for (int q = 1; q < 4; ++q) {
            const QPoint p = (windows::point(l.x1, l.y1) * (4 - q) + windows::point(l.x2, l.y2) * q) / 4;
            QVERIFY2((image.pixel(p) & 0xFFFFFF) == QRgb(l.colour),
                     qPrintable(QStringLiteral("no line at %1,%2").arg(p.x()).arg(p.y())));
        }

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
                     : window == 2     ? static_cast<ui::Form&>(game.windows().form2())
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
    // Rows of both lists stand a row's step apart, lined up with their first row; each control
    // where the design puts it, and the black rules: the double rule under the list and the
    // rule above the prompt.
    const design::Window& d = design::form3();
    QCOMPARE(described(d), described(designedplaces::form3));
    checkWindow(r, designedplaces::form3Client, QPoint(40, 180), designed(designedplaces::form3));
    const QImage image = grabbed(r.client());
    for (const design::Line& l : d.lines)
        QCOMPARE(image.pixel(100, design::pixels(l.y1)) & 0xFFFFFF, QRgb(l.colour));

    auto* prompt = r.client()->findChild<ui::Label*>(QStringLiteral("Label6"));
    QVERIFY(prompt->sizeHint().width() <= prompt->width());
    r.Unload();
}

// Guards against the help window's blue or its text blocks losing their colours.
void FidelityTest::helpWindow()
{
    GameFixture game;
    game.windows().form2().Show();
    QCOMPARE(described(design::form2()), described(designedplaces::form2));
    checkWindow(game.windows().form2(), designedplaces::form2Client, QPoint(10, 10), designed(designedplaces::form2));
}

QTEST_MAIN(FidelityTest)
#include "tst_fidelity.moc"

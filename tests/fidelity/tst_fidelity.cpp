// What the pupil sees, checked from rendered pixels: every control where the window's design
// puts it, in its colours, lines over the table, captions that fit, Japanese glyphs.
// The expected values are the design's own (twips and #RRGGBB), written out here once more;
// twips become pixels by the window layer's own conversion.
#include "rules/module1.h"
#include "windows/registry.h"
#include "game/form1.h"
#include "help/form2.h"
#include "results/form3.h"
#include "support/game_fixture.h"
#include "ui/twips.h"

#include <QFontMetrics>
#include <QPushButton>
#include <QTest>

#include <map>

namespace {

struct Expect {
    const char* name;
    int left, top, width, height; // twips
    QRgb back;                    // 0: not checked
    QRgb text;                    // 0: not checked
};

// The colour that covers most of a rectangle of the image.
QRgb dominant(const QImage& image, const QRect& rect)
{
    std::map<QRgb, int> counts;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) & 0xFFFFFF];
    QRgb best = 0;
    int bestCount = -1;
    for (const auto& [colour, count] : counts)
        if (count > bestCount) {
            best = colour;
            bestCount = count;
        }
    return best;
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

QImage render(ui::Form& form)
{
    return form.client()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QString hex(QRgb c)
{
    return QStringLiteral("#%1").arg(c & 0xFFFFFF, 6, 16, QLatin1Char('0')).toUpper();
}

// Checks one control's place, back colour and text colour in the rendered client area.
void checkControl(ui::Form& form, const QImage& image, const Expect& e, bool sizedToText = false)
{
    auto* control = form.client()->findChild<QWidget*>(QString::fromUtf8(e.name));
    QVERIFY2(control, e.name);
    const QRect expected = ui::twipsRect(e.left, e.top, e.width, e.height);
    QRect actual(control->mapTo(form.client(), QPoint(0, 0)), control->size());
    if (QString::fromUtf8(e.name).startsWith(QLatin1String("kotae")))
        actual.moveTopLeft(control->pos()); // answer buttons are placed from the frame's corner
    if (sizedToText)
        QCOMPARE(actual.topLeft(), expected.topLeft());
    else
        QVERIFY2(actual == expected, qPrintable(QStringLiteral("%1 at %2,%3 %4x%5")
                                                    .arg(e.name).arg(actual.x()).arg(actual.y())
                                                    .arg(actual.width()).arg(actual.height())));
    const QRect onScreen(control->mapTo(form.client(), QPoint(0, 0)), control->size());
    if (e.back)
        QVERIFY2(dominant(image, onScreen) == (e.back & 0xFFFFFF),
                 qPrintable(QStringLiteral("%1 shows %2").arg(e.name, hex(dominant(image, onScreen)))));
    if (e.text)
        QVERIFY2(countColour(image, onScreen, e.text & 0xFFFFFF, 40) > 10,
                 qPrintable(QStringLiteral("%1 has no text in %2").arg(e.name, hex(e.text))));
}

// Every character of every caption on the window has a glyph in the face it is drawn with.
void checkGlyphs(ui::Form& form)
{
    const auto widgets = form.findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w))
            text = label->text();
        else if (auto* button = qobject_cast<QPushButton*>(w))
            text = button->text();
        const QFontMetrics metrics(w->font());
        for (const QChar c : text)
            if (!c.isSpace())
                QVERIFY2(metrics.inFont(c), qPrintable(w->objectName() + QStringLiteral(": no glyph for ") + c));
    }
}

} // namespace

class FidelityTest : public QObject {
    Q_OBJECT
private slots:
    void gameWindowAfterStartUp();
    void gameWindowWithAQuestion();
    void resultsWindowAskingForAName();
    void helpWindow();
};

// Guards against a control moved, resized or recoloured, or the table's lines hidden under it.
void FidelityTest::gameWindowAfterStartUp()
{
    GameFixture game;
    Form1& f = game.form();
    QCOMPARE(f.client()->size(), QSize(580, 401));
    const QImage image = render(f);
    QCOMPARE(image.pixel(146, 140) & 0xFFFFFF, 0x008000u); // the window between its controls

    const Expect controls[] = {
        {"Command1", 2880, 4680, 2055, 855, 0, 0},
        {"Command3", 5160, 4680, 2175, 495, 0, 0},
        {"Command5", 7080, 5280, 1455, 615, 0, 0},
        {"tokutenyo", 120, 4680, 2655, 1215, 0, 0},
        {"helpyo", 7560, 4680, 975, 495, 0, 0},
        {"Frame1", 2880, 2160, 5655, 2415, 0xFF8000, 0x0000C0},
        {"kotae(0)", 360, 600, 2415, 495, 0, 0},
        {"kotae(1)", 3000, 600, 2415, 495, 0, 0},
        {"kotae(2)", 360, 1200, 2415, 495, 0, 0},
        {"kotae(4)", 1200, 1800, 4215, 495, 0, 0},
        {"Label1", 2280, 120, 855, 975, 0x0000FF, 0xFFFFFF},
        {"Label2", 2280, 1080, 855, 975, 0x0000FF, 0xFFFFFF},
        {"Label3", 3120, 120, 5415, 255, 0x0000FF, 0},
        {"Label4", 3120, 1080, 5415, 255, 0x0000FF, 0},
        {"tokuten", 120, 2160, 2655, 2415, 0x004000, 0x00FF00},
    };
    for (const Expect& e : controls)
        checkControl(f, image, e);
    for (int i = 0; i < 10; ++i) {
        const QByteArray name = QStringLiteral("mondai(%1)").arg(i).toUtf8();
        checkControl(f, image, {name.constData(), 3120 + 1080 * (i % 5), i < 5 ? 360 : 1320, 1095, 735, 0x0000FF, 0});
    }
    for (int i = 0; i < 5; ++i) {
        const QByteArray number = QStringLiteral("bango(%1)").arg(i).toUtf8();
        const QByteArray mark = QStringLiteral("sikiyo(%1)").arg(i).toUtf8();
        checkControl(f, image, {number.constData(), 120, 120 + 360 * i, 255, 375, 0x000080, 0xFFFFFF});
        checkControl(f, image, {mark.constData(), 480, 120 + 360 * i, 375, 375, 0xFFFF00, 0});
    }
    checkControl(f, image, {"monbang", 960, 120, 1215, 435, 0xFF0000, 0x0000FF}, true);

    // The white lines run over the blue cells they cross.
    for (QPoint p : {QPoint(300, 80), QPoint(560, 80), QPoint(160, 80), QPoint(208, 15), QPoint(208, 60), QPoint(208, 120)})
        QVERIFY2((image.pixel(p) & 0xFFFFFF) == 0xFFFFFF, qPrintable(QStringLiteral("no line at %1,%2").arg(p.x()).arg(p.y())));

    // The longest answer fits on one line of its button.
    QPushButton& last = f.kotae(4);
    QVERIFY(QFontMetrics(last.font()).horizontalAdvance(last.text()) + 8 <= last.width());
    QVERIFY(last.sizeHint().width() <= last.width());
    checkGlyphs(f);
}

// Guards against table numbers drawn in the wrong colour or not at all.
void FidelityTest::gameWindowWithAQuestion()
{
    GameFixture game;
    Form1& f = game.form();
    game.scriptQuestionOfKind(2);
    f.Command1_Click();
    const QImage image = render(f);
    for (int i = 0; i < 10; ++i) {
        const QRect cell = ui::twipsRect(3120 + 1080 * (i % 5), i < 5 ? 360 : 1320, 1095, 735);
        QVERIFY2(countColour(image, cell, 0xFFFFFF) > 20, qPrintable(QStringLiteral("cell %1 is empty").arg(i)));
        QCOMPARE(dominant(image, cell), 0x0000FFu);
    }
    QVERIFY(countColour(image, ui::twipsRect(120, 2160, 2655, 2415), 0x00FF00) > 200); // the points "10"
    checkGlyphs(f);
}

// Guards against the results rows drifting from the first row, or the prompt clipped.
void FidelityTest::resultsWindowAskingForAName()
{
    GameFixture game;
    Module1::tensu = 25;
    Form3& r = windows::form3();
    r.Show();
    QVERIFY(r.Text1->isVisible());
    QCOMPARE(r.client()->size(), QSize(272, 418));
    const QImage image = render(r);
    QCOMPARE(image.pixel(40, 180) & 0xFFFFFF, 0x80FF80u);

    const Expect controls[] = {
        {"Command2", 3240, 120, 732, 372, 0, 0},
        {"enz0", 1560, 600, 1695, 255, 0x80FF80, 0},
        {"jyun(0)", 240, 1200, 372, 372, 0x80FF80, 0x000000},
        {"namae(0)", 960, 1200, 1935, 375, 0x80FF80, 0x000000},
        {"jikan(0)", 3120, 1200, 615, 375, 0x80FF80, 0x000000},
        {"jyun1(0)", 2400, 3840, 375, 375, 0x80FF80, 0x000000},
        {"jikan1(0)", 3120, 3840, 615, 375, 0x80FF80, 0x000000},
        {"Label2", 240, 4440, 972, 252, 0x80FF80, 0xFF0000},
        {"jikan9", 480, 4800, 855, 375, 0x80FF80, 0x000000},
        {"Label6", 120, 5400, 3852, 372, 0x80FF80, 0x004040},
        {"Text1", 1320, 5760, 1815, 405, 0x8080FF, 0},
        {"Command1", 3240, 5760, 732, 372, 0, 0},
    };
    for (const Expect& e : controls)
        checkControl(r, image, e);
    checkControl(r, image, {"Label1", 120, 120, 1695, 405, 0x008000, 0xFF0000}, true);
    checkControl(r, image, {"Label4", 600, 600, 720, 285, 0x80FF80, 0x0000C0}, true);
    checkControl(r, image, {"Label3", 120, 3840, 1920, 315, 0x00FFFF, 0x0000FF}, true);

    // Rows of both lists stand 30 pixels apart, lined up with their first row.
    for (const char* array : {"jyun", "namae", "jikan"}) {
        const QRect first = ui::twipsRect(array[1] == 'y' ? 240 : array[1] == 'a' ? 960 : 3120, 1200, 0, 0);
        for (int i = 0; i < 5; ++i) {
            auto* row = r.client()->findChild<QWidget*>(QStringLiteral("%1(%2)").arg(array).arg(i));
            QVERIFY(row && row->isVisible());
            QCOMPARE(row->pos(), first.topLeft() + QPoint(0, 30 * i));
        }
    }
    for (int i = 0; i < 3; ++i) {
        auto* place = r.client()->findChild<QWidget*>(QStringLiteral("jyun1(%1)").arg(i));
        auto* score = r.client()->findChild<QWidget*>(QStringLiteral("jikan1(%1)").arg(i));
        QVERIFY(place && score);
        QCOMPARE(place->pos(), QPoint(160, 256 + 30 * i));
        QCOMPARE(score->pos(), QPoint(208, 256 + 30 * i));
    }
    // The black rules: the double rule under the list and the rule above the prompt.
    for (int y : {240, 248, 352})
        QCOMPARE(image.pixel(100, y) & 0xFFFFFF, 0x000000u);

    auto* prompt = r.client()->findChild<ui::Label*>(QStringLiteral("Label6"));
    QVERIFY(prompt->sizeHint().width() <= prompt->width());
    checkGlyphs(r);
    r.Unload();
}

// Guards against the help window's blue or its text blocks losing their colours.
void FidelityTest::helpWindow()
{
    GameFixture game;
    Form2& h = windows::form2();
    h.Show();
    QCOMPARE(h.client()->size(), QSize(406, 443));
    const QImage image = render(h);
    QCOMPARE(image.pixel(10, 10) & 0xFFFFFF, 0x0000FFu);
    const Expect controls[] = {
        {"Label2", 360, 240, 5550, 1095, 0x00FFFF, 0xFF0000},
        {"Label3", 360, 1560, 5535, 1455, 0x00FF00, 0x000000},
        {"Label4", 360, 3240, 5535, 1815, 0x00FF00, 0x000000},
        {"Label6", 360, 5280, 5535, 615, 0x00FF00, 0x000000},
        {"Command1", 4680, 6000, 1095, 540, 0, 0},
    };
    for (const Expect& e : controls)
        checkControl(h, image, e);
    checkGlyphs(h);
}

QTEST_MAIN(FidelityTest)
#include "tst_fidelity.moc"

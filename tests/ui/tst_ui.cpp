#include "support/fake_services.h"
#include "ui/application.h"
#include "ui/control_array.h"
#include "ui/controls.h"
#include "ui/fonts.h"
#include "ui/form.h"
#include "ui/timer.h"
#include "ui/twips.h"
#include "support/game_fixture.h"

#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace {

// A window that counts its Load and Activate events.
class CountingForm : public ui::Form {
public:
    explicit CountingForm(const QString& name) : ui::Form(design(name)) {}
    int loads = 0;
    int activations = 0;
    ui::ControlArray<ui::Label> cells{QStringLiteral("cell")};

protected:
    void Form_Load() override
    {
        ++loads;
        cells.add(0, new ui::Label(client(), {{}, QStringLiteral("A"), ui::twipsRect(240, 1200, 372, 372),
                                              {15.75, true, {}, QColor(0x80, 0xFF, 0x80), Qt::AlignHCenter}}));
    }
    void Form_Activate() override { ++activations; }

private:
    static ui::FormDesign design(const QString& name)
    {
        ui::FormDesign d;
        d.name = name;
        d.caption = name;
        d.clientWidthTwips = 4080;
        d.clientHeightTwips = 6270;
        return d;
    }
};

} // namespace

class UiTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void twipsRoundToTheNearestPixel_data();
    void twipsRoundToTheNearestPixel();
    void pointsBecomeWholePixelsAt96Dpi_data();
    void pointsBecomeWholePixelsAt96Dpi();
    void japaneseTextGetsAJapaneseFace();
    void standardButtonsSpeakJapanese();
    void loadRunsOnceBeforeTheFirstDisplay();
    void clientAreaHasTheDesignedSizeAndCannotGrow();
    void modalShowReturnsOnlyAfterUnload();
    void unloadDestroysRunTimeControls();
    void activateFiresOnFirstDisplayAndAfterAnotherWindow();
    void hiddenWindowKeepsItsStateAndLoadsNoMore();
    void timerRestartsOnEveryNonZeroInterval();
    void arrayCopiesLookLikeElementZero();
    void autoSizeLabelFitsItsCaption();
    void textBoxReportsEnterAsThirteen();
    void linesLieAboveLabelsAndReachScreenReaders();
    void windowsReachScreenReadersByTitle();
};

void UiTest::initTestCase()
{
    ui::initApplication(*qApp);
}

void UiTest::twipsRoundToTheNearestPixel_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("exact") << 8700 << 580;
    QTest::newRow("just below a half") << 1327 << 88;
    QTest::newRow("a half rounds up") << 7 * 15 + 8 << 8;
    QTest::newRow("above a half") << 732 << 49;
    QTest::newRow("below a half") << 1095 + 5 << 73;
    QTest::newRow("zero") << 0 << 0;
}

// Guards against truncating twips, which shifts controls by a pixel.
void UiTest::twipsRoundToTheNearestPixel()
{
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(ui::px(twips), pixels);
}

void UiTest::pointsBecomeWholePixelsAt96Dpi_data()
{
    QTest::addColumn<double>("points");
    QTest::addColumn<int>("pixels");
    QTest::newRow("window font") << 13.5 << 18;
    QTest::newRow("table cells") << 27.75 << 37;
    QTest::newRow("points label") << 120.0 << 160;
    QTest::newRow("frame caption") << 20.25 << 27;
    QTest::newRow("return button") << 10.5 << 14;
    QTest::newRow("user-interface font") << 9.0 << 12;
}

// Guards against fonts sized in points, which scale with the screen's dpi and break the layout.
void UiTest::pointsBecomeWholePixelsAt96Dpi()
{
    QFETCH(double, points);
    QFETCH(int, pixels);
    QCOMPARE(ui::pointsToPixels(points), pixels);
    const QFont font = ui::gothicFont(points, true);
    QCOMPARE(font.pixelSize(), pixels);
    QCOMPARE(font.weight(), QFont::Bold);
    QCOMPARE(ui::gothicFont(points).weight(), QFont::Normal);
}

// Guards against Japanese captions drawn as empty boxes for want of a Japanese face.
void UiTest::japaneseTextGetsAJapaneseFace()
{
    const QFont font = ui::gothicFont(13.5);
    QFontMetrics metrics(font);
    const QString text = QStringLiteral("上の３つには，あてはまらない関係ｘｙ○×");
    for (const QChar c : text)
        QVERIFY2(metrics.inFont(c), qPrintable(QStringLiteral("no glyph for ") + c));
}

// Guards against an English "Cancel" in the confirmation a pupil is asked.
void UiTest::standardButtonsSpeakJapanese()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), QStringLiteral("?"),
                    QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("キャンセル"));
}

// Guards against a second Load, or a Load after the window is already on screen.
void UiTest::loadRunsOnceBeforeTheFirstDisplay()
{
    FakeServices fake;
    auto* form = new CountingForm(QStringLiteral("A"));
    QVERIFY(!form->isLoaded());
    form->Show();
    QCOMPARE(form->loads, 1);
    QVERIFY(form->cells.exists(0));
    form->Show();
    form->Hide();
    form->Show();
    QCOMPARE(form->loads, 1);
    delete form;
}

// Guards against windows that the player can resize or that lose their designed client size.
void UiTest::clientAreaHasTheDesignedSizeAndCannotGrow()
{
    FakeServices fake;
    CountingForm form(QStringLiteral("A"));
    form.Show();
    QCOMPARE(form.client()->size(), QSize(272, 418));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
}

// Guards against a modal show that returns while its window is still open.
void UiTest::modalShowReturnsOnlyAfterUnload()
{
    FakeServices fake;
    auto* form = new CountingForm(QStringLiteral("A"));
    bool unloadedWhenReturned = false;
    fake.onModal = [&](ui::Form& shown) {
        QCOMPARE(&shown, form);
        QVERIFY(shown.isVisible());
        QCOMPARE(shown.windowModality(), Qt::ApplicationModal);
        shown.Unload();
    };
    form->Show(true);
    unloadedWhenReturned = form->isUnloaded();
    QVERIFY(unloadedWhenReturned);
    QCOMPARE(fake.modalForms, QStringList{QStringLiteral("A")});
    GameFixture::settle();
}

// Guards against run-time controls outliving the window they were created on.
void UiTest::unloadDestroysRunTimeControls()
{
    FakeServices fake;
    QPointer<CountingForm> form = new CountingForm(QStringLiteral("A"));
    form->Show();
    QPointer<ui::Label> copy = form->cells.load(1);
    QSignalSpy unloaded(form.data(), &ui::Form::unloaded);
    form->Unload();
    QCOMPARE(unloaded.count(), 1);
    QVERIFY(!form->isVisible());
    GameFixture::settle();
    QVERIFY(form.isNull());
    QVERIFY(copy.isNull());
}

// Guards against the start message looping after each message box, or never coming back.
void UiTest::activateFiresOnFirstDisplayAndAfterAnotherWindow()
{
    FakeServices fake;
    CountingForm a(QStringLiteral("A"));
    CountingForm b(QStringLiteral("B"));
    a.Show();
    GameFixture::settle();
    QCOMPARE(a.activations, 1);

    a.windowActivated(); // a message box of the program closed
    a.windowActivated(); // the player came back from another application
    GameFixture::settle();
    QCOMPARE(a.activations, 1);

    b.Show();
    GameFixture::settle();
    QCOMPARE(b.activations, 1);
    a.windowActivated();
    GameFixture::settle();
    QCOMPARE(a.activations, 2);
    a.windowActivated();
    GameFixture::settle();
    QCOMPARE(a.activations, 2);
}

// Guards against Hide losing what the window shows.
void UiTest::hiddenWindowKeepsItsStateAndLoadsNoMore()
{
    FakeServices fake;
    CountingForm form(QStringLiteral("A"));
    form.Show();
    form.cells(0).setCaption(QStringLiteral("kept"));
    form.Hide();
    QVERIFY(!form.isVisible());
    form.Show();
    QCOMPARE(form.cells(0).caption(), QStringLiteral("kept"));
    QCOMPARE(form.loads, 1);
}

// Guards against a countdown that keeps its old phase when a question is set, or keeps ticking at 0.
void UiTest::timerRestartsOnEveryNonZeroInterval()
{
    int ticks = 0;
    QObject owner;
    ui::Timer timer(&owner, QStringLiteral("Timer1"), [&] { ++ticks; });
    QVERIFY(!timer.isRunning());
    timer.setInterval(2000);
    QVERIFY(timer.isRunning());
    QVERIFY(timer.remaining() > 1900);
    timer.setInterval(0);
    QVERIFY(!timer.isRunning());
    QCOMPARE(timer.interval(), 0);
    timer.setInterval(50);
    timer.setInterval(2000);
    QCOMPARE(timer.interval(), 2000);
    QVERIFY(timer.remaining() > 1900);
    QCOMPARE(ticks, 0);
}

// Guards against run-time rows that differ from the designed first row.
void UiTest::arrayCopiesLookLikeElementZero()
{
    FakeServices fake;
    CountingForm form(QStringLiteral("A"));
    form.Show();
    ui::Label& first = form.cells(0);
    ui::Label* copy = form.cells.load(3);
    QCOMPARE(copy->objectName(), QStringLiteral("cell(3)"));
    QVERIFY(copy->isHidden());
    QCOMPARE(copy->size(), first.size());
    QCOMPARE(copy->font(), first.font());
    QCOMPARE(copy->alignment(), first.alignment());
    QCOMPARE(copy->palette().color(QPalette::Window), first.palette().color(QPalette::Window));
    QCOMPARE(copy->palette().color(QPalette::WindowText), first.palette().color(QPalette::WindowText));
    QVERIFY(copy->autoFillBackground());
    QCOMPARE(&form.cells(3), copy);
}

// Guards against auto-sized labels clipping a longer caption.
void UiTest::autoSizeLabelFitsItsCaption()
{
    QWidget parent;
    ui::Label label(&parent, {QStringLiteral("monbang"), QStringLiteral("番  号"), ui::twipsRect(960, 120, 1215, 435),
                              {21.75, true}, true});
    label.setCaption(QStringLiteral("第 5問とても長い見出し"));
    QFontMetrics metrics(label.font());
    QVERIFY(label.width() >= metrics.horizontalAdvance(label.caption()));
    QCOMPARE(label.pos(), QPoint(64, 8));
}

// Guards against Enter in the name box not reaching its handler as code 13.
void UiTest::textBoxReportsEnterAsThirteen()
{
    QWidget parent;
    ui::TextBox box(&parent, QStringLiteral("Text1"), ui::twipsRect(1320, 5760, 1815, 405), {13.5});
    QList<int> codes;
    int changes = 0;
    box.onKeyPress = [&](std::int16_t& code) { codes << code; };
    box.onChange = [&] { ++changes; };
    QTest::keyClicks(&box, QStringLiteral("ab"));
    QTest::keyClick(&box, Qt::Key_Return);
    QCOMPARE(codes, (QList<int>{'a', 'b', 13}));
    QCOMPARE(box.text(), QStringLiteral("ab"));
    QCOMPARE(changes, 2);
}

// Guards against lines hidden under the labels they cross, or invisible to screen readers.
void UiTest::linesLieAboveLabelsAndReachScreenReaders()
{
    QWidget parent;
    parent.resize(580, 401);
    new ui::Label(&parent, {QStringLiteral("cell"), {}, ui::twipsRect(2280, 1080, 855, 975),
                            {0, false, {}, QColor(0, 0, 0xFF)}});
    auto* line = new ui::Line(&parent, QStringLiteral("Line1"), {152, 80}, {568, 80}, 5, Qt::white);
    const QImage image = parent.grab().toImage();
    QCOMPARE(image.pixelColor(160, 80), QColor(Qt::white));
    QCOMPARE(image.pixelColor(160, 78), QColor(Qt::white));
    QCOMPARE(image.pixelColor(160, 82), QColor(Qt::white));
    QCOMPARE(image.pixelColor(160, 84), QColor(0, 0, 0xFF));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(line);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Separator);
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Line1"));
}

// Guards against screen readers announcing a window as an anonymous pane.
void UiTest::windowsReachScreenReadersByTitle()
{
    FakeServices fake;
    CountingForm form(QStringLiteral("ヌボラ1(m.Tarvo)"));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&form);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Window);
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("ヌボラ1(m.Tarvo)"));
}

QTEST_MAIN(UiTest)
#include "tst_ui.moc"

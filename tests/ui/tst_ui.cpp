// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/design.h"
#include "support/counting_form.h"
#include "support/events.h"
#include "support/fake_services.h"
#include "support/real_modals.h"
#include "ui/accessibility.h"
#include "ui/application.h"
#include "ui/control_array.h"
#include "ui/controls.h"
#include "ui/fonts.h"
#include "ui/form.h"
#include "ui/timer.h"

#include <QAccessible>
#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class UiTest : public FakeServicesTest {
    Q_OBJECT
private slots:
    void twipsRoundToTheNearestPixel_data();
    void twipsRoundToTheNearestPixel();
    void pointsBecomeWholePixelsAt96Dpi_data();
    void pointsBecomeWholePixelsAt96Dpi();
    void japaneseTextGetsAJapaneseFace();
    void standardButtonsSpeakJapanese();
    void loadRunsOnceAndHideKeepsTheWindowAsItWas();
    void clientAreaHasTheDesignedSizeAndCannotGrow();
    void modalShowReturnsOnlyAfterUnload();
    void unloadDestroysRunTimeControls();
    void unloadedWindowOutlivesTheNestedLoopsOverIt();
    void activateFiresOnFirstDisplayAndAfterAnotherWindow();
    void timerRestartsOnEveryNonZeroInterval();
    void arrayCopiesLookLikeElementZero();
    void autoSizeLabelFitsItsCaption();
    void textBoxReportsEnterAsThirteen();
    void linesLieAboveLabelsAndReachScreenReaders();
    void windowsReachScreenReadersByTitle();
    void labelsReadAsOneTableWithRowHeaders();
    void announcementsOfOneTurnAreSaidOnceWhenTheWindowIsActive();
};

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
    QCOMPARE(design::pixels(twips), pixels);
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
    QCOMPARE(design::fontPixels(points), pixels);
    const QFont font = ui::gothicFont(pixels, true);
    QCOMPARE(font.pixelSize(), pixels);
    QCOMPARE(font.weight(), QFont::Bold);
    QCOMPARE(ui::gothicFont(pixels).weight(), QFont::Normal);
}

// Guards against Japanese captions drawn as empty boxes for want of a Japanese face.
void UiTest::japaneseTextGetsAJapaneseFace()
{
    const QFont face = ui::gothicFont(18);
    // The face itself must be Japanese: glyphs borrowed from a fallback face would also pass below.
    QVERIFY2(QFontDatabase::writingSystems(QFontInfo(face).family()).contains(QFontDatabase::Japanese),
             qPrintable(QFontInfo(face).family()));
    const QFontMetrics metrics(face);
    for (const QChar c : QStringLiteral("上の３つには，あてはまらない関係ｘｙ○×"))
        QVERIFY2(metrics.inFont(c), qPrintable(QStringLiteral("no glyph for ") + c));
}

// Guards against an English "Cancel" in the confirmation a pupil is asked.
void UiTest::standardButtonsSpeakJapanese()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), QStringLiteral("?"),
                    QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("キャンセル"));
}

// Guards against a second Load, a Load after the window is already on screen, or Hide losing
// what the window shows.
void UiTest::loadRunsOnceAndHideKeepsTheWindowAsItWas()
{
    CountingForm form(QStringLiteral("A"));
    QVERIFY(!form.isLoaded());
    form.Show();
    QCOMPARE(form.loads, 1);
    QVERIFY(form.cells.exists(0));
    form.cells(0).setCaption(QStringLiteral("kept"));
    form.Show();
    form.Hide();
    QVERIFY(!form.isVisible());
    form.Show();
    QCOMPARE(form.cells(0).caption(), QStringLiteral("kept"));
    QCOMPARE(form.loads, 1);
}

// Guards against windows that the player can resize or that lose their designed client size.
void UiTest::clientAreaHasTheDesignedSizeAndCannotGrow()
{
    CountingForm form(QStringLiteral("A"));
    form.Show();
    QCOMPARE(form.client()->size(), QSize(272, 418));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
}

// Guards against a modal show that returns while its window is still open.
void UiTest::modalShowReturnsOnlyAfterUnload()
{
    auto* form = new CountingForm(QStringLiteral("A"));
    fake->onModal = [&](ui::Form& shown) {
        QCOMPARE(&shown, form);
        QVERIFY(shown.isVisible());
        QCOMPARE(shown.windowModality(), Qt::ApplicationModal);
        shown.Unload();
    };
    form->Show(true);
    QVERIFY(form->isUnloaded());
    QCOMPARE(fake->modalForms, QStringList{QStringLiteral("A")});
    settleEvents();
}

// Guards against a window destroyed while code of it still waits on a nested loop (here a
// modal window whose loop goes on after the unload): the window goes at once but is deleted
// only once the loop has ended and control is back in the event loop.
void UiTest::unloadedWindowOutlivesTheNestedLoopsOverIt()
{
    QPointer<CountingForm> first = new CountingForm(QStringLiteral("A"));
    first->Show();
    settleEvents();
    RealModals modals([&](QWidget& modal) {
        first->Unload();
        QTimer::singleShot(0, &modal, [&modal] { static_cast<ui::Form&>(modal).Unload(); });
    });
    (new CountingForm(QStringLiteral("B")))->Show(true); // as a handler of A would
    QVERIFY(first);
    QVERIFY(first->isHidden());
    settleEvents();
    QVERIFY(first.isNull());
}

// Guards against run-time controls outliving the window they were created on.
void UiTest::unloadDestroysRunTimeControls()
{
    QPointer<CountingForm> form = new CountingForm(QStringLiteral("A"));
    form->Show();
    QPointer<ui::Label> copy = form->cells.load(1);
    QSignalSpy unloaded(form.data(), &ui::Form::unloaded);
    form->Unload();
    QCOMPARE(unloaded.count(), 1);
    QVERIFY(!form->isVisible());
    settleEvents();
    QVERIFY(form.isNull());
    QVERIFY(copy.isNull());
}

// Guards against the start message looping after each message box, or never coming back.
void UiTest::activateFiresOnFirstDisplayAndAfterAnotherWindow()
{
    CountingForm a(QStringLiteral("A"));
    CountingForm b(QStringLiteral("B"));
    a.Show();
    settleEvents();
    QCOMPARE(a.activations, 1);

    a.windowActivated(); // a message box of the program closed
    a.windowActivated(); // the player came back from another application
    settleEvents();
    QCOMPARE(a.activations, 1);

    b.Show();
    settleEvents();
    QCOMPARE(b.activations, 1);
    for (int activations : {2, 2}) { // back from B, then once more with nothing between
        a.windowActivated();
        settleEvents();
        QCOMPARE(a.activations, activations);
    }
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
    CountingForm form(QStringLiteral("A"));
    form.Show();
    ui::Label& first = form.cells(0);
    ui::Label* copy = form.cells.load(3);
    QCOMPARE(copy->objectName(), QStringLiteral("cell(3)"));
    QVERIFY(copy->isHidden());
    QCOMPARE(copy->size(), first.size());
    QCOMPARE(copy->font(), first.font());
    QCOMPARE(copy->alignment(), first.alignment());
    QVERIFY(copy->palette() == first.palette());
    QVERIFY(copy->autoFillBackground());
    QCOMPARE(&form.cells(3), copy);
}

// Guards against auto-sized labels clipping a longer caption.
void UiTest::autoSizeLabelFitsItsCaption()
{
    QWidget parent;
    ui::Label label(&parent,
                    {QStringLiteral("monbang"), QStringLiteral("番  号"), QRect(64, 8, 81, 29), {29, true}, true});
    label.setCaption(QStringLiteral("第 5問とても長い見出し"));
    QVERIFY(label.width() >= QFontMetrics(label.font()).horizontalAdvance(label.caption()));
    QCOMPARE(label.pos(), QPoint(64, 8));
}

// Guards against Enter in the name box not reaching its handler as code 13.
void UiTest::textBoxReportsEnterAsThirteen()
{
    QWidget parent;
    ui::TextBox box(&parent, QStringLiteral("Text1"), QRect(88, 384, 121, 27), {18});
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

// Guards against lines hidden under the labels they cross, or read out by screen readers.
void UiTest::linesLieAboveLabelsAndReachScreenReaders()
{
    QWidget parent;
    parent.resize(580, 401);
    new ui::Label(&parent, {QStringLiteral("cell"), {}, QRect(152, 72, 57, 65), {0, false, {}, QColor(0, 0, 0xFF)}});
    new ui::Line(&parent, QStringLiteral("Line1"), {152, 80}, {568, 80}, 5, Qt::white);
    const QImage image = parent.grab().toImage();
    for (int y : {78, 80, 82, 84})
        QCOMPARE(image.pixelColor(160, y), y < 84 ? QColor(Qt::white) : QColor(0, 0, 0xFF));
    // Lines only draw: a screen reader reading the parent does not meet them.
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&parent);
    QCOMPARE(accessible->childCount(), 1);
    QCOMPARE(accessible->child(0)->role(), QAccessible::StaticText);
}

// Guards against screen readers announcing a window as an anonymous pane.
void UiTest::windowsReachScreenReadersByTitle()
{
    CountingForm form(QStringLiteral("ヌボラ1(m.Tarvo)"));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&form);
    QCOMPARE(accessible->role(), QAccessible::Window);
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("ヌボラ1(m.Tarvo)"));
}

// Guards against a table that screen readers cannot walk: cells out of place, a child whose
// parent does not know it, headers missing, or the table not where its first label was.
void UiTest::labelsReadAsOneTableWithRowHeaders()
{
    QWidget area;
    auto label = [&area](const QString& caption) { return new ui::Label(&area, {{}, caption, {}, {}}); };
    QWidget* before = label(QStringLiteral("before"));
    QList<QList<QWidget*>> rows{
        {label(QStringLiteral("ｘ")), label(QStringLiteral(" 1")), label(QStringLiteral(" 2"))},
        {label(QStringLiteral("ｙ")), label(QStringLiteral("-3")), label(QStringLiteral(" ×"))}};
    QWidget* after = label(QStringLiteral("after"));
    QAccessible::queryAccessibleInterface(rows[1][1]); // a view made before the table
    ui::makeTable(QStringLiteral("対応表"), rows);

    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(&area);
    QCOMPARE(view->childCount(), 3);
    QCOMPARE(view->child(0)->object(), before);
    QCOMPARE(view->child(2)->object(), after);
    QAccessibleInterface* table = view->child(1);
    QCOMPARE(table->role(), QAccessible::Table);
    QCOMPARE(table->parent()->object(), &area);
    QAccessibleTableInterface* cells = table->tableInterface();
    QVERIFY(cells);
    QCOMPARE(cells->rowCount(), 2);
    QCOMPARE(cells->columnCount(), 2);
    const QStringList names{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("-3"), QStringLiteral("×")};
    for (int i = 0; i < names.size(); ++i) {
        QAccessibleInterface* cell = cells->cellAt(i / 2, i % 2);
        QCOMPARE(cell->text(QAccessible::Name), names[i]);
        QCOMPARE(cell->parent()->object(), table->object());
        QCOMPARE(table->child(table->indexOfChild(cell)), cell);
        QCOMPARE(cell->tableCellInterface()->rowIndex(), i / 2);
        QCOMPARE(cell->tableCellInterface()->columnIndex(), i % 2);
        QCOMPARE(cell->tableCellInterface()->rowHeaderCells().value(0)->text(QAccessible::Name),
                 i < 2 ? QStringLiteral("ｘ") : QStringLiteral("ｙ"));
    }
    QCOMPARE(table->child(3)->role(), QAccessible::RowHeader);
}

// What a screen reader speaks at once: the names of the notifications shown, in order.
class NotificationsHeard : public QObject {
public:
    NotificationsHeard() { qApp->installEventFilter(this); }
    QStringList said;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType())
            if (QAccessibleInterface* view = QAccessible::queryAccessibleInterface(watched);
                view && view->role() == QAccessible::Notification)
                said << view->text(QAccessible::Name);
        return false;
    }
};

// Guards against announcements of one event said one by one (each cutting off the one before),
// said again (also when the window is hidden and shown again), or said before a window that is
// being opened has been named by the reader.
void UiTest::announcementsOfOneTurnAreSaidOnceWhenTheWindowIsActive()
{
    const NotificationsHeard heard;
    CountingForm form(QStringLiteral("announcing"));
    ui::announce(form.client(), QStringLiteral("第1問。"));
    ui::announce(&form, QStringLiteral("ｘ 1。"));
    settleEvents();
    QCOMPARE(ui::lastAnnouncement(&form), QString()); // not shown yet
    form.Show();
    QTRY_COMPARE(ui::lastAnnouncement(&form), QStringLiteral("第1問。ｘ 1。"));
    ui::announce(&form, QStringLiteral("まる。"));
    settleEvents();
    QCOMPARE(ui::lastAnnouncement(&form), QStringLiteral("まる。"));
    form.Hide();
    form.Show();
    settleEvents();
    QCOMPARE(heard.said, (QStringList{QStringLiteral("第1問。ｘ 1。"), QStringLiteral("まる。")}));
}

QTEST_MAIN(UiTest)
#include "tst_ui.moc"

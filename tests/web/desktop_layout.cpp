// SPDX-License-Identifier: GPL-3.0-or-later
// Usage: desktop_layout OUTPUT.json   (headless: QT_QPA_PLATFORM=offscreen)
// Writes the desktop's three windows as they are on screen at scale 1, for the page's layout
// test to hold the page against: the game window after start-up, the results window opened
// for viewing, the help window. For each window its client size and ground; for each visible
// control of its client area, under the name the page gives it (an element "mondai(3)" of a
// control array is "mondai3"): kind, rectangle in the client area in pixels, ground and text
// colour (#rrggbb, or null where the control has none of its own and shows what is under
// it), font pixel size and boldness, and caption. A line's rectangle and colour are those of
// the pixels it paints.
#include "app/windows.h"
#include "game/form1.h"
#include "help/form2.h"
#include "results/form3.h"
#include "support/game_fixture.h"
#include "ui/controls.h"
#include "windows/design.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>

#include <cstdio>

namespace {

QJsonValue hex(const QColor& colour)
{
    return colour.isValid() ? QJsonValue(colour.name()) : QJsonValue(QJsonValue::Null);
}

QJsonArray rectOf(const QRect& r)
{
    return {r.x(), r.y(), r.width(), r.height()};
}

// The pixels a line paints, alone on a transparent image: their bounds and their colour.
QJsonObject lineOf(ui::Line* line, const QPoint& at)
{
    QImage image(line->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    line->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    QRect ink;
    QRgb colour = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) == 255) {
                ink |= QRect(x, y, 1, 1);
                colour = image.pixel(x, y);
            }
    return {{"kind", "line"}, {"rect", rectOf(ink.translated(at))}, {"back", hex(QColor(colour))}};
}

QJsonObject controlOf(QWidget* w, const QWidget* area)
{
    const QPoint at = w->mapTo(area, QPoint(0, 0));
    if (auto* line = qobject_cast<ui::Line*>(w))
        return lineOf(line, at);
    QJsonObject c{{"rect", rectOf(QRect(at, w->size()))},
                  {"px", w->font().pixelSize()},
                  {"bold", w->font().weight() >= QFont::Bold}};
    const QPalette& p = w->palette();
    // The control's kind and caption, its ground (null where it shows its parent's) and text colour.
    const auto as = [&](const char* kind, const QString& caption, const QJsonValue& back, QPalette::ColorRole text) {
        c["kind"] = kind;
        c["caption"] = caption;
        c["back"] = back;
        c["text"] = hex(p.color(text));
        return c;
    };
    if (auto* label = qobject_cast<ui::Label*>(w))
        return as("label", label->caption(),
                  label->autoFillBackground() ? hex(p.color(QPalette::Window)) : QJsonValue(QJsonValue::Null),
                  QPalette::WindowText);
    if (auto* button = qobject_cast<QPushButton*>(w))
        return as("button", button->text(), hex(p.color(QPalette::Button)), QPalette::ButtonText);
    if (auto* frame = qobject_cast<ui::Frame*>(w))
        return as("frame", frame->title(), hex(p.color(QPalette::Window)), QPalette::WindowText);
    if (auto* box = qobject_cast<ui::TextBox*>(w))
        return as("text", box->text(), hex(p.color(QPalette::Base)), QPalette::Text);
    return {};
}

QJsonObject windowOf(ui::Form& form)
{
    QWidget* area = form.client();
    QJsonObject controls;
    static const QRegularExpression element(QStringLiteral("^(\\w+)\\((\\d+)\\)$"));
    for (QWidget* w : area->findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || !w->isVisibleTo(area))
            continue;
        const QJsonObject c = controlOf(w, area);
        if (c.isEmpty())
            continue;
        QString name = w->objectName();
        name.replace(element, QStringLiteral("\\1\\2"));
        controls[name] = c;
    }
    return {{"client", QJsonArray{area->width(), area->height()}},
            {"back", hex(area->palette().color(QPalette::Window))},
            {"controls", controls}};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: desktop_layout OUTPUT.json\n");
        return 2;
    }
    QApplication app(argc, argv);
    windows::initApplication(app);
    GameFixture game; // the game window shown, its start message answered
    QJsonObject windows{{"Form1", windowOf(game.form())}};
    game.windows().showResults(false);
    GameFixture::settle();
    windows["Form3"] = windowOf(game.windows().form3());
    game.windows().form3().Unload();
    game.windows().showHelp();
    GameFixture::settle();
    windows["Form2"] = windowOf(game.windows().form2());

    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(QJsonDocument(windows).toJson()) < 0
        || !out.flush()) {
        std::fprintf(stderr, "desktop_layout: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

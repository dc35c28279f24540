// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/application.h"

#include "ui/accessibility.h"
#include "ui/fonts.h"
#include "ui/keyboard.h"
#include "ui/style.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace ui {

namespace {

// What Qt says while it connects to the display; shown after the plain words if it fails.
QStringList& startMessages()
{
    static QStringList messages;
    return messages;
}

void collectStartMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtFatalMsg) {
        startMessages() << message;
        return;
    }
    // Qt's own last words advise reinstalling, which would not help: only the plain words and
    // the reason Qt gave before them.
    std::fprintf(stderr,
                 "ヌボラ1 を動かすには，グラフィカルなデスクトップが必要です。"
                 "デスクトップの画面から起動してください。\n"
                 "nubora1 needs a graphical desktop: start it from a desktop session.\n"
                 "(%s)\n",
                 qPrintable(startMessages().join(QStringLiteral("; "))));
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE); // Qt would abort and leave a core file
}

} // namespace

std::unique_ptr<QApplication> createApplication(int& argc, char** argv)
{
    const QtMessageHandler previous = qInstallMessageHandler(collectStartMessage);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    const QStringList said = std::exchange(startMessages(), {});
    for (const QString& line : said)
        qWarning().noquote() << line;
    return app;
}

void initApplication(QApplication& app, int fontPixels)
{
    auto* style = new Style;
    QApplication::setStyle(style); // the application owns it
    QApplication::setPalette(style->standardPalette());
    QApplication::setFont(gothicFont(fontPixels));
    app.setQuitOnLastWindowClosed(false);

    static QTranslator japanese;
    if (japanese.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&japanese);

    installButtonKeys();
    installAccessibility();
}

} // namespace ui

#include "ui/application.h"

#include "ui/controls.h"
#include "ui/fonts.h"
#include "ui/keyboard.h"
#include "ui/style.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace ui {

void initApplication(QApplication& app)
{
    auto* style = new Style;
    QApplication::setStyle(style); // the application owns it
    QApplication::setPalette(style->standardPalette());
    QApplication::setFont(gothicFont(9));
    app.setQuitOnLastWindowClosed(false);

    static QTranslator japanese;
    if (japanese.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&japanese);

    installButtonKeys();
    installAccessibility();
}

} // namespace ui

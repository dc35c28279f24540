#include "ui/application.h"

#include "ui/accessibility.h"
#include "ui/fonts.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QStyle>
#include <QStyleFactory>
#include <QTranslator>

namespace ui {

void initApplication(QApplication& app)
{
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(fusion);
        QApplication::setPalette(fusion->standardPalette());
    }
    QApplication::setFont(gothicFont(9));
    app.setQuitOnLastWindowClosed(false);

    static QTranslator japanese;
    if (japanese.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&japanese);

    installAccessibility();
}

} // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows.h"
#include "classlink/courier.h"
#include "game/form1.h"
#include "storage/ranking_place.h"
#include "ui/application.h"
#include "windows/design.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    const auto app = ui::createApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("nubora1")); // names the player's data directory
    // The desktop shows the game's windows under its menu entry, with the entry's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("nubora1"));
    windows::initApplication(*app);
    app::Windows windows;
#ifdef NUBORA1_INSTALLED_DIR
    // Installed for every user of the PC, the game keeps each player's lists in that player's
    // own data directory, also when root starts it and could write beside it.
    if (QCoreApplication::applicationDirPath() == QStringLiteral(NUBORA1_INSTALLED_DIR))
        windows.rankingOptions().programDirectory = storage::playerDataDirectory();
#endif
    classlink::stockTicketsLater(windows.rankingOptions(), windows.classOptions());
    windows.form1().Show();
    return QApplication::exec();
}

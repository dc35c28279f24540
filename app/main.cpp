#include "windows/registry.h"
#include "game/form1.h"
#include "ui/application.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("nubora1")); // names the player's data directory
    ui::initApplication(app);
    windows::form1().Show();
    return app.exec();
}

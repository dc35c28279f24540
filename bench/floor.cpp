// SPDX-License-Identifier: GPL-3.0-or-later
// The floor for the start-up, memory and idle figures: a bare Qt Widgets window of the game
// window's size, with a menu bar and as many controls (26 labels, 10 buttons, a group box and
// two lines), built the plainest way and nothing else.
#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("floor"));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* menus = new QMenuBar(&window);
    for (int m = 0; m < 3; ++m) {
        QMenu* menu = menus->addMenu(QStringLiteral("Menu %1").arg(m));
        for (int i = 0; i < 4; ++i)
            menu->addAction(QStringLiteral("Item %1").arg(i));
    }
    layout->setMenuBar(menus);
    auto* client = new QWidget(&window);
    client->setFixedSize(580, 401);
    layout->addWidget(client);
    for (int i = 0; i < 26; ++i)
        (new QLabel(QStringLiteral("%1").arg(i), client))->setGeometry(10 + (i % 10) * 55, 10 + (i / 10) * 40, 50, 30);
    auto* box = new QGroupBox(QStringLiteral("box"), client);
    box->setGeometry(192, 144, 377, 161);
    for (int i = 0; i < 10; ++i)
        (new QPushButton(QStringLiteral("b%1").arg(i), i < 5 ? static_cast<QWidget*>(box) : client))
            ->setGeometry(10 + (i % 5) * 70, i < 5 ? 40 : 320, 60, 30);
    for (int i = 0; i < 2; ++i) {
        auto* line = new QFrame(client);
        line->setFrameShape(i ? QFrame::VLine : QFrame::HLine);
        line->setGeometry(i ? 208 : 152, i ? 8 : 78, i ? 5 : 416, i ? 128 : 5);
    }
    window.show();
    return app.exec();
}

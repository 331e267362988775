// A tray icon of ours on a Wayland desktop's tray host: the StatusNotifierItem the application
// shows, with a small menu that fills itself when it is about to show, as the application's
// does. Prints "ready" once the icon is handed to the host, and "triggered <entry>" for each
// entry chosen; with QT_LOGGING_RULES on, the log tells each menu call the host makes.

#include "app/tray/StatusNotifierTray.h"
#include "support/Say.h"

#include <QApplication>
#include <QMenu>
#include <QPixmap>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "wayland");
    QApplication app(argc, argv);
    QMenu menu;
    QObject::connect(&menu, &QMenu::aboutToShow, [&menu] {
        menu.clear();
        for (const QString& text : {QStringLiteral("Convert Copied Files…"), QStringLiteral("Settings…"),
                                    QStringLiteral("Quit Quorvenda")}) {
            QObject::connect(menu.addAction(text), &QAction::triggered, [text] {
                qv::test::say(QStringLiteral("triggered %1").arg(text));
            });
        }
    });
    qv::StatusNotifierTray tray(&menu);
    QPixmap picture(22, 22);
    picture.fill(Qt::darkCyan);
    tray.setIcon(QIcon(picture));
    qv::test::say(QStringLiteral("ready"));
    return app.exec();
}

// A user's own window on a Wayland desktop: a full-screen Qt window with a line edit, an
// ordinary toplevel the compositor gives the keyboard to as it would a terminal. It prints
//   ready                 it is on screen with the keyboard
//   typed <text>          the line edit's whole text, after each change
//   focus <in|out>        the window gained or lost the keyboard
//   menu-asked <x> <y>    a right-click there asked for its context menu
//   menu                  the context menu is on screen
//   menu-closed           the context menu went away

#include "support/Say.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

namespace {

using qv::test::say;

class Edit : public QLineEdit {
protected:
    void focusInEvent(QFocusEvent* event) override
    {
        QLineEdit::focusInEvent(event);
        say(QStringLiteral("focus in"));
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QLineEdit::focusOutEvent(event);
        say(QStringLiteral("focus out"));
    }
};

// The window's own menu, wherever it is right-clicked.
class Window : public QWidget {
protected:
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        QPointer<QMenu> menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(QStringLiteral("Copy"));
        menu->addAction(QStringLiteral("Paste"));
        QObject::connect(menu, &QMenu::aboutToHide, [] { say(QStringLiteral("menu-closed")); });
        say(QStringLiteral("menu-asked %1 %2").arg(event->globalPos().x()).arg(event->globalPos().y()));
        menu->popup(event->globalPos());
        auto* poll = new QTimer(this);
        QObject::connect(poll, &QTimer::timeout, [menu, poll] {
            if (!menu) {
                poll->deleteLater();
                return;
            }
            if (menu->windowHandle() && menu->windowHandle()->isExposed()) {
                say(QStringLiteral("menu"));
                poll->deleteLater();
            }
        });
        poll->start(10);
    }
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "wayland");
    QApplication app(argc, argv);
    Window window;
    window.setWindowTitle(QStringLiteral("typist"));
    auto* layout = new QVBoxLayout(&window);
    auto* edit = new Edit;
    layout->addWidget(edit);
    layout->addStretch();
    QObject::connect(edit, &QLineEdit::textChanged, [](const QString& text) { say(QStringLiteral("typed ") + text); });
    window.showFullScreen();
    edit->setFocus();
    QTimer ready;
    QObject::connect(&ready, &QTimer::timeout, [&] {
        if (window.windowHandle() && window.windowHandle()->isExposed() && window.isActiveWindow()) {
            ready.stop();
            say(QStringLiteral("ready"));
        }
    });
    ready.start(10);
    return app.exec();
}

#include "support/Trayer.h"

#include "support/WaitFor.h"

#include <QStandardPaths>

#include <X11/Xlib.h>

namespace qv::test {

Trayer::Trayer()
{
    const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
    if (trayer.isEmpty()) {
        m_whyNot = QStringLiteral("needs trayer (scripts/install-deps.sh installs it)");
        return;
    }
    m_process.start(trayer, {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                             QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                             QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--height"),
                             QStringLiteral("32"), QStringLiteral("--transparent"), QStringLiteral("false"),
                             QStringLiteral("--SetDockType"), QStringLiteral("true")});
    if (!waitFor([] { return runs(); }, 20000))
        m_whyNot = QStringLiteral("trayer took no tray");
}

Trayer::~Trayer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool Trayer::runs()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display));
    const bool owned = XGetSelectionOwner(display, XInternAtom(display, name.constData(), False)) != None;
    XCloseDisplay(display);
    return owned;
}

} // namespace qv::test

#include "support/WindowManager.h"

#include "support/WaitFor.h"

#include <QStandardPaths>
#include <QWidget>
#include <QWindow>

namespace qv::test {

WindowManager::WindowManager()
{
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty()) {
        m_whyNot = QStringLiteral("needs openbox, a window manager");
        return;
    }
    // --replace: a manager another test left still leaving does not keep this one out.
    m_process.start(openbox, {QStringLiteral("--sm-disable"), QStringLiteral("--replace")});
    if (!m_process.waitForStarted()) {
        m_whyNot = QStringLiteral("openbox did not start");
        return;
    }
    // Until the manager frames a window, it is not running yet. The native window asks the
    // manager each time; the widget caches its frame.
    QWidget probe(nullptr, Qt::Window);
    probe.resize(100, 100);
    probe.show();
    if (!waitFor([&] { return probe.windowHandle() && !probe.windowHandle()->frameMargins().isNull(); }, 10000))
        m_whyNot = QStringLiteral("openbox did not take over the display");
}

WindowManager::~WindowManager()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished(3000);
}

} // namespace qv::test

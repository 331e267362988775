#include "DragSourceProcess.h"

#include "support/WaitFor.h"

namespace qv::test {

DragSourceProcess::DragSourceProcess(const QStringList& args)
{
    m_process.start(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_drag_source"), args);
    waitFor(
        [this] {
            m_output += m_process.readAllStandardOutput();
            return m_output.contains('\n') || m_process.state() == QProcess::NotRunning;
        },
        15000);
    const QList<QByteArray> words = m_output.left(m_output.indexOf('\n')).split(' ');
    if (words.size() == 3 && words[0] == "ready")
        centre = QPoint(words[1].toInt(), words[2].toInt());
}

DragSourceProcess::~DragSourceProcess()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

int DragSourceProcess::dragsEnded()
{
    m_output += m_process.readAllStandardOutput();
    return int(m_output.count("drag-end"));
}

} // namespace qv::test

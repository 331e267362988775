#include "DragSourceProcess.h"

#include "support/WaitFor.h"

namespace qv::test {

DragSourceProcess::DragSourceProcess(const QStringList& args)
    : DragSourceProcess(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_drag_source"), args)
{
}

DragSourceProcess::DragSourceProcess(const QString& program, const QStringList& args)
{
    m_process.start(program, args);
    const auto readyAt = [this] { return m_output.indexOf("ready "); };
    waitFor(
        [&] {
            m_output += m_process.readAllStandardOutput();
            const qsizetype at = readyAt();
            return (at >= 0 && m_output.indexOf('\n', at) > at) || m_process.state() == QProcess::NotRunning;
        },
        15000);
    const qsizetype at = std::max<qsizetype>(readyAt(), 0);
    const QList<QByteArray> words = m_output.mid(at, m_output.indexOf('\n', at) - at).split(' ');
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

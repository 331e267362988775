#pragma once

#include <QByteArray>
#include <QPoint>
#include <QProcess>
#include <QStringList>

namespace qv::test {

// The tests' drag source program, started with a window to drag from ("files <url>..." or
// "text <words>"), or another that prints "ready <x> <y>" and "drag-end" as it does.
class DragSourceProcess {
public:
    explicit DragSourceProcess(const QStringList& args);
    DragSourceProcess(const QString& program, const QStringList& args);
    ~DragSourceProcess();

    bool isReady() const { return !centre.isNull(); }
    // How many drags of the source have ended.
    int dragsEnded();

    QPoint centre;

private:
    QProcess m_process;
    QByteArray m_output;
};

} // namespace qv::test

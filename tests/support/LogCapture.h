#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace qv::test {

// Collects the log lines written while it lives (debug lines included).
class LogCapture {
public:
    struct Line {
        QString category;
        QtMsgType type;
        QString message;
    };

    LogCapture();
    ~LogCapture();

    QList<Line> lines() const;
    bool contains(const QString& category, const QString& message) const;

private:
    QtMessageHandler m_previous;
};

} // namespace qv::test

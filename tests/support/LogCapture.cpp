#include "support/LogCapture.h"

#include <QLoggingCategory>
#include <mutex>

namespace qv::test {

namespace {

std::mutex g_mutex;
QList<LogCapture::Line> g_lines;

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    std::lock_guard locker(g_mutex);
    g_lines.append({QString::fromLatin1(context.category ? context.category : ""), type, message});
}

} // namespace

LogCapture::LogCapture()
{
    {
        std::lock_guard locker(g_mutex);
        g_lines.clear();
    }
    QLoggingCategory::setFilterRules(QStringLiteral("quorvenda.*=true"));
    m_previous = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QList<LogCapture::Line> LogCapture::lines() const
{
    std::lock_guard locker(g_mutex);
    return g_lines;
}

bool LogCapture::contains(const QString& category, const QString& message) const
{
    for (const Line& line : lines()) {
        if (line.category == category && line.message == message)
            return true;
    }
    return false;
}

} // namespace qv::test

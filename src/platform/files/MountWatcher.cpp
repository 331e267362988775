#include "platform/files/MountWatcher.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace qv {

MountWatcher::MountWatcher(QObject* parent)
    : QObject(parent)
{
    m_fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    // Polled for priority data, which is what a change of the table raises.
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MountWatcher::changed);
}

MountWatcher::~MountWatcher()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void MountWatcher::changed()
{
    // The mark stays until the table is read again from its start.
    char buffer[4096];
    ::lseek(m_fd, 0, SEEK_SET);
    while (::read(m_fd, buffer, sizeof buffer) > 0) {
    }
    Q_EMIT mountsChanged();
}

} // namespace qv

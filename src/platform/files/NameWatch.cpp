#include "platform/files/NameWatch.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/inotify.h>
#include <unistd.h>

namespace qv {

namespace {

// Only what changes which file a name leads to; writes to the file are its own.
constexpr std::uint32_t namesChanged = IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE;
constexpr std::uint32_t folderGone = IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT | IN_IGNORED;

} // namespace

NameWatch::NameWatch(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        m_watchedAll = false;
        return;
    }
    for (const QString& path : paths) {
        const QFileInfo info(path);
        const QByteArray folder = QFile::encodeName(info.absolutePath());
        const int wd = ::inotify_add_watch(m_fd, folder.constData(), namesChanged | folderGone | IN_ONLYDIR);
        if (wd < 0) {
            m_watchedAll = false;
            continue;
        }
        m_names[wd].insert(QFile::encodeName(info.fileName()), path);
    }
}

NameWatch::~NameWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool NameWatch::changed()
{
    if (m_fd < 0 || m_changed)
        return m_changed;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event)) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                m_changed = true;
                continue;
            }
            const auto folder = m_names.constFind(event->wd);
            if (folder == m_names.constEnd())
                continue;
            QString path;
            if (event->mask & folderGone) {
                path = folder->cbegin().value();
            } else if (event->len > 0) {
                path = folder->value(QByteArray(event->name, int(::strnlen(event->name, event->len))));
                if (path.isEmpty())
                    continue;
            } else {
                continue;
            }
            if (!m_changed)
                m_changedPath = path;
            m_changed = true;
        }
    }
    return m_changed;
}

} // namespace qv

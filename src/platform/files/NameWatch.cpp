#include "platform/files/NameWatch.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <cstring>
#include <mutex>

#include <sys/inotify.h>
#include <unistd.h>

namespace qv {

namespace {

// Only what changes which file a name leads to; writes to the file are its own.
constexpr std::uint32_t namesChanged = IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE;
constexpr std::uint32_t folderGone = IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT | IN_IGNORED;

// The process's one instance, and which watches each of its folder watches serves.
struct Shared {
    std::mutex lock;
    int fd = -1;
    bool opened = false;
    QHash<int, QList<NameWatch*>> watchers;
};

Shared& shared()
{
    // Never destroyed, never closed: see the class.
    static auto* value = new Shared;
    return *value;
}

int openLocked(Shared& state)
{
    if (!state.opened) {
        state.opened = true;
        state.fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    }
    return state.fd;
}

} // namespace

void NameWatch::readEventsLocked()
{
    Shared& state = shared();
    if (state.fd < 0)
        return;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(state.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event)) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                // Dropped events may have been any watch's.
                for (const QList<NameWatch*>& all : std::as_const(state.watchers)) {
                    for (NameWatch* watch : all)
                        watch->noteChange(QString());
                }
                continue;
            }
            const auto here = state.watchers.constFind(event->wd);
            if (here == state.watchers.constEnd())
                continue;
            for (NameWatch* watch : *here) {
                const auto folder = watch->m_names.constFind(event->wd);
                if (folder == watch->m_names.constEnd())
                    continue;
                if (event->mask & folderGone) {
                    watch->noteChange(folder->cbegin().value());
                } else if (event->len > 0) {
                    const QString path =
                        folder->value(QByteArray(event->name, int(::strnlen(event->name, event->len))));
                    if (!path.isEmpty())
                        watch->noteChange(path);
                }
            }
        }
    }
}

int NameWatch::sharedFd()
{
    Shared& state = shared();
    std::lock_guard locker(state.lock);
    return openLocked(state);
}

NameWatch::NameWatch(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    Shared& state = shared();
    std::lock_guard locker(state.lock);
    m_fd = openLocked(state);
    if (m_fd < 0) {
        m_watchedAll = false;
        return;
    }
    // What happened before this watch stood is other watches' news, not this one's.
    readEventsLocked();
    for (const QString& path : paths) {
        const QFileInfo info(path);
        const QByteArray folder = QFile::encodeName(info.absolutePath());
        // A folder another watch already watches gives the same watch back.
        const int wd = ::inotify_add_watch(m_fd, folder.constData(), namesChanged | folderGone | IN_ONLYDIR);
        if (wd < 0) {
            m_watchedAll = false;
            continue;
        }
        m_names[wd].insert(QFile::encodeName(info.fileName()), path);
    }
    for (auto it = m_names.cbegin(); it != m_names.cend(); ++it)
        state.watchers[it.key()].append(this);
}

NameWatch::~NameWatch()
{
    if (m_fd < 0)
        return;
    Shared& state = shared();
    std::lock_guard locker(state.lock);
    for (auto it = m_names.cbegin(); it != m_names.cend(); ++it) {
        QList<NameWatch*>& all = state.watchers[it.key()];
        all.removeAll(this);
        if (all.isEmpty()) {
            state.watchers.remove(it.key());
            ::inotify_rm_watch(m_fd, it.key());
        }
    }
}

bool NameWatch::changed()
{
    if (m_fd < 0)
        return false;
    Shared& state = shared();
    std::lock_guard locker(state.lock);
    // Read whatever is queued, also once this watch has seen a change: a poll on the shared
    // instance would otherwise wake at once, again and again.
    readEventsLocked();
    return m_changed;
}

QString NameWatch::changedPath() const
{
    if (m_fd < 0)
        return QString();
    Shared& state = shared();
    std::lock_guard locker(state.lock);
    return m_changedPath;
}

void NameWatch::noteChange(const QString& path)
{
    if (!m_changed)
        m_changedPath = path;
    m_changed = true;
}

} // namespace qv

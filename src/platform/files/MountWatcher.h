#pragma once

#include <QObject>

class QSocketNotifier;

namespace qv {

// Tells when a filesystem is mounted or unmounted (a stick plugged in, a share connected): the
// kernel marks the process's mount table readable with priority then.
class MountWatcher : public QObject {
    Q_OBJECT
public:
    explicit MountWatcher(QObject* parent = nullptr);
    ~MountWatcher() override;

    bool isWatching() const { return m_fd >= 0; }

Q_SIGNALS:
    void mountsChanged();

private:
    void changed();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace qv

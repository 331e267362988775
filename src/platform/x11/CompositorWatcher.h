#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

namespace qv {

class SelectionOwnerWatch;

// Whether a compositing manager runs on an X screen, followed as one starts or stops: the
// owner of the selection _NET_WM_CM_S<screen>, watched through XFixes on a connection of
// its own. Anything but X11 counts as not composited.
class CompositorWatcher : public QObject {
    Q_OBJECT
public:
    explicit CompositorWatcher(QObject* parent = nullptr);
    ~CompositorWatcher() override;

    // No display name: $DISPLAY; screen -1: the display's default screen. False when there is
    // no such display or screen.
    bool watch(const QByteArray& displayName = {}, int screen = -1);

    bool isComposited() const { return m_composited; }

    // The screen Qt's windows open on by default.
    static CompositorWatcher& system();

Q_SIGNALS:
    void changed(bool composited);

private:
    void setComposited(bool composited);

    std::unique_ptr<SelectionOwnerWatch> d;
    bool m_composited = false;
};

} // namespace qv

#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

namespace qv {

class SelectionOwnerWatch;

// Tells when a drag begins on an X display: whoever starts one takes the selection XdndSelection,
// and XFixes reports each take, on a connection of its own. KWin's XWayland bridge takes it as
// every drag of its Wayland session begins, native ones too, and keeps it after: the end of a
// drag is not told.
class DragSelectionWatcher : public QObject {
    Q_OBJECT
public:
    explicit DragSelectionWatcher(QObject* parent = nullptr);
    ~DragSelectionWatcher() override;

    // No display name: $DISPLAY. False when there is no such display or it lacks XFixes.
    bool watch(const QByteArray& displayName = {});
    // Tells now every take the server made before this call (a round trip), so that what came
    // on another connection since (a window's XdndEnter) is weighed against all of them.
    void catchUp();

Q_SIGNALS:
    void dragBegan();
    // The display went away (XWayland ended): no drag is told from now on.
    void lost();

private:
    std::unique_ptr<SelectionOwnerWatch> d;
};

} // namespace qv

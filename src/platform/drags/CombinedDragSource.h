#pragma once

#include "platform/drags/DragEventSource.h"

#include <memory>
#include <vector>

namespace qv {

// Several drag back ends as one, for sessions where each sees only some drags (under XWayland:
// the X11 one sees drags of X11 programs, a strip of ours the native ones that cross it). The
// back end that reports a press first speaks for the drag until its button comes up; the others
// are not heard meanwhile.
class CombinedDragSource : public DragEventSource {
    Q_OBJECT

public:
    explicit CombinedDragSource(std::vector<std::unique_ptr<DragEventSource>> sources,
                                QObject* parent = nullptr);
    ~CombinedDragSource() override;

    // Starts every back end; true when one started at least.
    bool start(QString* whyNot) override;
    bool isPrimaryButtonDown() override;
    quint32 currentModifiers() override;
    QPoint pointerPosition() override;
    void readDragOffer() override;
    void nudgePointer() override;
    void ownDragBeginning() override;
    void setCatchersShown(bool shown) override;

private:
    DragEventSource* speaker() const;

    std::vector<std::unique_ptr<DragEventSource>> m_sources;
    std::vector<bool> m_started;
    int m_active = -1; // the back end of the drag under way
};

} // namespace qv

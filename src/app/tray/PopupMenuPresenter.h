#pragma once

#include "platform/desktop/MenuPresenter.h"

namespace qv {

// A QMenu at the point, which deletes itself once it has closed.
class PopupMenuPresenter : public MenuPresenter {
public:
    void popUp(const QList<MenuEntry>& entries, QPointF point,
               std::function<void(int index)> chosen) override;
};

} // namespace qv

#pragma once

#include "platform/desktop/Workspace.h"

namespace qv {

class DesktopWorkspace : public Workspace {
public:
    bool open(const QUrl& url) override;
    void reveal(const QList<QUrl>& urls) override;
};

} // namespace qv

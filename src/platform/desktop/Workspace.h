#pragma once

#include <QList>
#include <QUrl>

namespace qv {

// Opening files with their applications and showing them in the file manager.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual bool open(const QUrl& url) = 0;
    // Shows the items selected in the file manager, or at least their folder.
    virtual void reveal(const QList<QUrl>& urls) = 0;

    static Workspace& system();
};

} // namespace qv

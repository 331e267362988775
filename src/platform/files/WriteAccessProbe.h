#pragma once

#include <QString>

namespace qv {

// Whether this process may create items in a folder. Tests run as root, where every folder
// looks writable, so they put a probe of their own in its place.
class WriteAccessProbe {
public:
    virtual ~WriteAccessProbe() = default;
    virtual bool canWrite(const QString& folder) const = 0;

    static const WriteAccessProbe& system();
};

} // namespace qv

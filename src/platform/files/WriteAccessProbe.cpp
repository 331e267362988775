#include "platform/files/WriteAccessProbe.h"

#include <QFile>

#include <unistd.h>

namespace qv {

namespace {

class SystemWriteAccessProbe : public WriteAccessProbe {
public:
    bool canWrite(const QString& folder) const override
    {
        // access() also answers EROFS for a read-only mount, even for root.
        return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
    }
};

} // namespace

const WriteAccessProbe& WriteAccessProbe::system()
{
    static const SystemWriteAccessProbe probe;
    return probe;
}

} // namespace qv

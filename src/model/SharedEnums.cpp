#include "model/SharedEnums.h"

namespace qv {

QString bundleIdentifier(IWorkApp app)
{
    QString name = toString(app);
    name[0] = name[0].toUpper();
    return QStringLiteral("com.apple.iWork.") + name;
}

} // namespace qv

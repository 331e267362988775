#include "catalogue/archives/ArchiveTarget.h"

namespace qv {

QString archiveExtension(ArchiveTarget target)
{
    return toString(target);
}

QString archiveDisplayText(ArchiveTarget target)
{
    return archiveExtension(target).toUpper();
}

} // namespace qv

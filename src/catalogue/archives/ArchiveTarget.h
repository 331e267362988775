#pragma once

#include "model/EnumText.h"

#include <QString>

namespace qv {

// The archive formats an archive can be repacked into. Each name is also the file extension.
enum class ArchiveTarget { zip, tar, tarGz };

template <>
struct EnumText<ArchiveTarget> {
    static constexpr std::array names{"zip", "tar", "tar.gz"};
};

// "zip", "tar", "tar.gz".
QString archiveExtension(ArchiveTarget target);
// The extension in upper case: "ZIP", "TAR", "TAR.GZ".
QString archiveDisplayText(ArchiveTarget target);

} // namespace qv

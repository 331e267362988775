#pragma once

#include "platform/FileProbe.h"

namespace qv {

class LocalFileProbe : public FileProbe {
public:
    std::optional<ItemStatus> status(const QString& path) const override;
    std::optional<QString> realPath(const QString& path) const override;
    std::optional<bool> pdfNeedsPassword(const QString& path) const override;
    std::optional<int> imageFrameCount(const QString& path) const override;
};

} // namespace qv

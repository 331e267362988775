#pragma once

#include "platform/clipboard/ClipboardReader.h"

namespace qv {

class SystemClipboardReader : public ClipboardReader {
public:
    const QMimeData* contents(Selection selection) const override;
    bool isAvailable() const override;
    QString blindSpot() const override;
};

} // namespace qv

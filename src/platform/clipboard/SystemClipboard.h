#pragma once

#include "platform/clipboard/Clipboard.h"

namespace qv {

class SystemClipboard : public Clipboard {
public:
    void setText(const QString& text) override;
    void setFiles(const QList<QUrl>& urls) override;
};

} // namespace qv

#pragma once

#include "platform/clipboard/ClipboardReader.h"

#include <QMimeData>

namespace qv::test {

// Selections with contents a test sets.
class FakeClipboardReader : public ClipboardReader {
public:
    bool available = true;
    QString blind;
    QMimeData clipboard;
    QMimeData primary;

    const QMimeData* contents(Selection selection) const override
    {
        if (!available)
            return nullptr;
        return selection == Selection::clipboard ? &clipboard : &primary;
    }
    bool isAvailable() const override { return available; }
    QString blindSpot() const override { return blind; }
};

} // namespace qv::test

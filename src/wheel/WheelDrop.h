#pragma once

#include "jobs/FilePromise.h"

#include <QList>
#include <QPointF>
#include <QUrl>

#include <memory>

class QMimeData;

namespace qv {

// What a drop on the wheel brings: the dropped files, or data to receive when the drop names
// no file; where it happened and whether Alt (the option key) was held.
struct WheelDrop {
    QList<QUrl> urls; // local files only, in drop order
    QList<std::shared_ptr<FilePromise>> promises;
    QPointF point;    // global, y-up
    bool optionHeld = false;

    // Local file URLs when there are any; otherwise one promise for the first non-text payload
    // (an image dragged out of a browser), named after its web address when it has one.
    static WheelDrop fromMimeData(const QMimeData& data, QPointF point, bool optionHeld);
};

} // namespace qv

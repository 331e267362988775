#pragma once

#include "jobs/FilePromise.h"
#include "model/files/FileInfo.h"

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

    // Local file URLs when there are any; otherwise one promise for the first payload of file
    // content, an image type first (an image dragged out of a browser), named after its web
    // address when it has one.
    // Without readData the payload is left unread (it may be large, and reading it waits on
    // the source): only the files are of interest while the drag still runs.
    static WheelDrop fromMimeData(const QMimeData& data, QPointF point, bool optionHeld,
                                  bool readData = true);

    // The data of a drop takes the name the drag announced while it ran, which may say more
    // (a suggested file name, a page's title) than the drop's web address.
    void nameAfter(const QList<FileInfo>& announced);

    // More is refused with a sentence that says so.
    static constexpr qsizetype maxDataBytes = 512LL * 1000 * 1000;
};

} // namespace qv

#pragma once

#include "platform/clipboard/ClipboardReader.h"

#include <QStringList>

#include <memory>

class QMimeData;

namespace qv {

// The selections of a Wayland compositor that offers data control (wlr-data-control: sway and
// the other wlroots compositors, KWin). Wayland tells a program what was copied only while it
// has the keyboard; through data control it learns at any time, as a clipboard manager does.
// Bound on Qt's own connection with an event queue of its own. Main thread only.
class DataControlClipboard {
public:
    // Qt runs on Wayland and the compositor offers data control: the one reader, bound on
    // first call; else nullptr.
    static DataControlClipboard* shared();

    // What the selection holds now, read for those of the formats it offers ("text/plain" also
    // from its UTF-8 variants); nullptr when it holds nothing or none of them could be read.
    // Valid until the next call. Waits up to a second or so for each format's owner to answer.
    const QMimeData* contents(ClipboardReader::Selection selection, const QStringList& formats);

    // The formats the selection offers now, in the owner's order.
    QStringList formats(ClipboardReader::Selection selection);

    ~DataControlClipboard();

private:
    DataControlClipboard();
    struct State;
    std::unique_ptr<State> d;
};

} // namespace qv

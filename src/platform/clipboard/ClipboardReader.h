#pragma once

#include <QString>

class QMimeData;

namespace qv {

// Reads what the desktop's selections hold; tests give contents of their own.
class ClipboardReader {
public:
    enum class Selection { clipboard, primary };

    virtual ~ClipboardReader() = default;
    // The selection's contents, or nullptr when it holds nothing or cannot be read. Valid until
    // the selection changes.
    virtual const QMimeData* contents(Selection selection) const = 0;
    // False when there is no clipboard to read at all (no display).
    virtual bool isAvailable() const = 0;
    // Why an empty selection may not be empty at all (the desktop tells us nothing of other
    // programs' copies); empty when what it holds is what the user copied.
    virtual QString blindSpot() const { return {}; }

    static const ClipboardReader& system();
};

} // namespace qv

#pragma once

#include <QByteArrayView>
#include <QString>

namespace qv {

// Names from archives and folders as text that is safe to show and to use as a file name,
// whatever system wrote them. Archives of other systems carry names in their own encodings;
// those are read in the encoding the format implies, or kept recognisable when none is known.
class ArchiveEntryName {
public:
    enum class Legacy {
        none,  // nothing is known: bytes that are not UTF-8 are escaped
        cp437  // zip names without the UTF-8 flag
    };

    // UTF-8 when the bytes are valid UTF-8, else read in the legacy encoding, else with each
    // byte that is not part of valid UTF-8 written as "%XX". Control characters and the marks
    // that reorder text (which can disguise an extension) are written as the "%XX" of their
    // UTF-8 bytes. "/", "." and ".." are left as they are for the caller's path checks.
    static QString fromBytes(QByteArrayView bytes, Legacy legacy = Legacy::none);
};

} // namespace qv

#pragma once

#include "documents/styles/SourceStyles.h"

#include <QByteArray>

namespace qv {

// The look an RTF states for its paragraphs (\fs sizes, weights, faces of its font table,
// colours, underline, scripts, alignment, headings by style name or outline level), its page
// (\paperw, \paperh, margins, \landscape or \lndscpsxn) and its \title. Reads the UTF-8 form
// RtfDecoder gives. Never fails: what cannot be read is left unstated.
class RtfStyleReader {
public:
    RtfStyleReader() = delete;

    static SourceStyles read(const QByteArray& decodedRtf);
};

} // namespace qv

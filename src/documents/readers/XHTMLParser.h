#pragma once

#include "documents/model/DocBlock.h"

#include <QUrl>

namespace qv {

// XHTML or HTML to blocks. The document is parsed strictly first when asked, else (or when
// that fails) by the tolerant HTML parser; no entity is expanded, no DTD or other outside file
// is loaded and nothing is fetched from the network.
class XHTMLParser {
public:
    XHTMLParser() = delete;

    // baseURL: the folder relative image sources are read against. root: when given, an image
    // that resolves outside it (links followed) or lies on a network gives no block, and is
    // counted in leftOut. Throws EngineError when neither parser accepts the bytes.
    static QList<DocBlock> parse(const QByteArray& bytes, const std::optional<QUrl>& baseURL,
                                 bool tryStrictXML, const std::optional<QUrl>& root = std::nullopt,
                                 int* leftOut = nullptr);

    // Elements nested deeper than this are read as plain text.
    static constexpr int maximumDepth = 200;
    // Image files larger than this are left out.
    static constexpr qint64 maximumImageBytes = 256LL * 1024 * 1024;
};

} // namespace qv

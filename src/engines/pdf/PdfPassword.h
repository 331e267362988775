#pragma once

#include <QString>

namespace qv {

// Passwords of PDF 2.0's AES-256 encryption are stored SASLprep-normalised (RFC 4013): a
// password typed with a soft hyphen, a non-breaking space or a compatibility character (ª, ﬁ)
// opens the file only in its prepared form.
class PdfPassword {
public:
    PdfPassword() = delete;

    // Characters mapped to nothing dropped, other spaces made plain spaces, then NFKC.
    static QString saslPrepped(const QString& password);
};

} // namespace qv

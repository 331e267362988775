#pragma once

#include <QByteArray>
#include <QList>
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

    // The bytes a password typed as text may be stored as, most likely first: UTF-8 as typed,
    // prepared (AES-256), and in PDFDocEncoding, which the older revisions (RC4 and AES-128)
    // make of a password with letters beyond ASCII ("hôtel").
    struct Candidate {
        QByteArray bytes;
        QString text; // what MuPDF is given: it encodes the text itself for each revision
    };
    static QList<Candidate> candidates(const QString& password);
};

} // namespace qv

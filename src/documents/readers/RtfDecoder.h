#pragma once

#include <QByteArray>
#include <QString>

namespace qv {

// RTF rewritten so that a reader that knows only UTF-8 gets every character right: text in the
// code page the file declares (\ansicpg, a font's \fcharset or \cpg, raw or as \'hh) and \u
// escapes (surrogate pairs included) become UTF-8, \bin data becomes hex, and \page becomes
// pageMark.
class RtfDecoder {
public:
    RtfDecoder() = delete;

    static QByteArray toUtf8(const QByteArray& rtf);

    // Where a page break was; a private-use character no document means.
    static constexpr char16_t pageMark = 0xE00C;

    // The Windows code page a \fcharset stands for; 0 for none (use the document's).
    static int codePageOfCharset(int charset);

    // Bytes of one code page as text; undecodable bytes become U+FFFD.
    static QString decode(const QByteArray& bytes, int codePage);
};

} // namespace qv

#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

class QPDF;
class QPDFObjectHandle;

namespace qv {

// The font of a text layer: a glyph-less TrueType program as a Type0 font with Identity-H
// codes and a ToUnicode map, so that every character extracts as itself. Each character used
// gets a code of its own; every code shows the same empty glyph, half an em wide.
class InvisibleTextFont {
public:
    // Gives every character of the text a code.
    void add(const QString& text);
    // The text as a PDF hex string of two-byte codes; characters not added are left out.
    QByteArray encode(const QString& text) const;
    // How many codes encode() gives for the text.
    int codeCount(const QString& text) const;

    // The font dictionary, indirect, in this document. program is the TrueType file's bytes.
    QPDFObjectHandle makeFont(QPDF& qpdf, const QByteArray& program) const;

    // Two-byte codes: at most this many distinct characters get one.
    static constexpr int maximumCodes = 0xFFFF;

private:
    QByteArray toUnicodeMap() const;

    QHash<char32_t, int> m_codes;
    QList<char32_t> m_characters; // by code - 1
};

} // namespace qv

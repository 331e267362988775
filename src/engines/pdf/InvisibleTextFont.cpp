#include "engines/pdf/InvisibleTextFont.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

namespace qv {

namespace {

QByteArray hex4(uint value) {
    return QByteArray::number(value, 16).rightJustified(4, '0').toUpper();
}

// The UTF-16BE of one character, in hex.
QByteArray utf16Hex(char32_t character) {
    const QString text = QString::fromUcs4(&character, 1);
    QByteArray out;
    for (QChar unit : text)
        out += hex4(unit.unicode());
    return out;
}

} // namespace

void InvisibleTextFont::add(const QString& text) {
    for (char32_t character : text.toUcs4()) {
        if (m_codes.contains(character) || m_characters.size() >= maximumCodes) continue;
        m_characters.append(character);
        m_codes.insert(character, int(m_characters.size()));
    }
}

QByteArray InvisibleTextFont::encode(const QString& text) const {
    QByteArray out = "<";
    for (char32_t character : text.toUcs4()) {
        const auto it = m_codes.constFind(character);
        if (it != m_codes.constEnd()) out += hex4(uint(*it));
    }
    return out + '>';
}

int InvisibleTextFont::codeCount(const QString& text) const {
    int count = 0;
    for (char32_t character : text.toUcs4())
        count += m_codes.contains(character) ? 1 : 0;
    return count;
}

QByteArray InvisibleTextFont::toUnicodeMap() const {
    QByteArray map = "/CIDInit /ProcSet findresource begin\n"
                     "12 dict begin\n"
                     "begincmap\n"
                     "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                     "/CMapName /Adobe-Identity-UCS def\n"
                     "/CMapType 2 def\n"
                     "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    // At most 100 entries to a block.
    for (qsizetype start = 0; start < m_characters.size(); start += 100) {
        const qsizetype end = std::min(start + 100, m_characters.size());
        map += QByteArray::number(end - start) + " beginbfchar\n";
        for (qsizetype i = start; i < end; ++i)
            map += '<' + hex4(uint(i + 1)) + "> <" + utf16Hex(m_characters[i]) + ">\n";
        map += "endbfchar\n";
    }
    map += "endcmap\n"
           "CMapName currentdict /CMap defineresource pop\n"
           "end\n"
           "end\n";
    return map;
}

QPDFObjectHandle InvisibleTextFont::makeFont(QPDF& qpdf, const QByteArray& program) const {
    QPDFObjectHandle fontFile = QPDFObjectHandle::newStream(&qpdf, program.toStdString());
    fontFile.getDict().replaceKey("/Length1", QPDFObjectHandle::newInteger(program.size()));

    // Every code draws glyph 1, the font's one empty glyph.
    std::string gids(size_t(m_characters.size() + 1) * 2, '\0');
    for (size_t code = 1; code <= size_t(m_characters.size()); ++code)
        gids[code * 2 + 1] = '\1';
    QPDFObjectHandle gidMap = QPDFObjectHandle::newStream(&qpdf, gids);
    QPDFObjectHandle toUnicode = QPDFObjectHandle::newStream(&qpdf, toUnicodeMap().toStdString());

    QPDFObjectHandle descriptor = qpdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /FontDescriptor /FontName /GlyphLessFont /Flags 5 /FontBBox [0 0 500 1000]"
        " /ItalicAngle 0 /Ascent 1000 /Descent 0 /CapHeight 1000 /StemV 80 >>"));
    descriptor.replaceKey("/FontFile2", fontFile);

    QPDFObjectHandle cidFont = qpdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /GlyphLessFont"
        " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /DW 500 >>"));
    cidFont.replaceKey("/FontDescriptor", descriptor);
    cidFont.replaceKey("/CIDToGIDMap", gidMap);

    QPDFObjectHandle font = qpdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type0 /BaseFont /GlyphLessFont /Encoding /Identity-H >>"));
    font.replaceKey("/DescendantFonts", QPDFObjectHandle::newArray({cidFont}));
    font.replaceKey("/ToUnicode", toUnicode);
    return font;
}

} // namespace qv

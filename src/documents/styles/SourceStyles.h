#pragma once

#include <QColor>
#include <QList>
#include <QMarginsF>
#include <QSizeF>
#include <QString>

#include <optional>

namespace qv {

// What a word-processing file states about the look of a stretch of text, after its styles are
// resolved. Unset fields were not stated.
struct SourceCharStyle {
    std::optional<double> pointSize;
    std::optional<bool> bold;
    std::optional<bool> italic;
    std::optional<bool> underline;
    std::optional<bool> strike;
    std::optional<int> script; // 1 superscript, -1 subscript, 0 on the line
    std::optional<QColor> colour;
    std::optional<QString> font;

    bool operator==(const SourceCharStyle&) const = default;

    // other's stated fields over these.
    void inherit(const SourceCharStyle& other)
    {
        if (other.pointSize)
            pointSize = other.pointSize;
        if (other.bold)
            bold = other.bold;
        if (other.italic)
            italic = other.italic;
        if (other.underline)
            underline = other.underline;
        if (other.strike)
            strike = other.strike;
        if (other.script)
            script = other.script;
        if (other.colour)
            colour = other.colour;
        if (other.font)
            font = other.font;
    }
};

struct SourceSpan {
    qsizetype start = 0; // in the paragraph's text
    qsizetype length = 0;
    SourceCharStyle style;
};

// One paragraph of the file, in reading order (table cells included).
struct SourceParagraph {
    QString text;
    Qt::Alignment alignment; // empty when the file states none or the start
    int headingLevel = 0;    // declared by the paragraph's style; 0 for none
    bool quote = false;
    std::optional<QColor> cellBackground; // the shading of the table cell it stands in
    QList<SourceSpan> spans;

    void append(const QString& piece, const SourceCharStyle& style)
    {
        if (piece.isEmpty())
            return;
        if (!spans.isEmpty() && spans.last().style == style && spans.last().start + spans.last().length == text.size())
            spans.last().length += piece.size();
        else
            spans.append({text.size(), piece.size(), style});
        text += piece;
    }
};

// The file's paragraphs with their looks, and its page.
struct SourceStyles {
    QList<SourceParagraph> paragraphs;
    std::optional<QSizeF> pageSize; // points, as the file's first section sets it
    std::optional<QMarginsF> margins;
    bool landscape = false;
    std::optional<QString> title; // what the file's own properties call it, where the reader sees them
    // The first page's running head and foot, lines apart, the page number and count as marks.
    QString header;
    QString footer;
    QString headerPart; // DOCX: the parts naming them, for the caller to read
    QString footerPart;

    static constexpr char16_t pageNumberMark = 0xE010;
    static constexpr char16_t pageCountMark = 0xE011;
};

} // namespace qv

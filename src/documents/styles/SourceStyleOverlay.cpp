#include "documents/styles/SourceStyleOverlay.h"

#include "documents/layout/DocumentFonts.h"
#include "documents/readers/RtfDecoder.h"
#include "documents/styles/SymbolFontText.h"

#include <QMap>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFragment>
#include <QTextList>
#include <QTextTable>

#include <cmath>

namespace qv {
namespace {

bool ignored(QChar c)
{
    const char16_t u = c.unicode();
    return c.isSpace() || u == 0xFFFC || u == RtfDecoder::pageMark || u == 0x00AD || u == 0x200B || u == 0x0C
        || u == 0xFDD0 || u == 0xFDD1;
}

// The size most of the file's characters have; none when it states no sizes.
std::optional<double> bodySize(const QList<SourceParagraph>& paragraphs)
{
    QMap<double, qint64> totals;
    for (const SourceParagraph& paragraph : paragraphs) {
        for (const SourceSpan& span : paragraph.spans) {
            if (span.style.pointSize)
                totals[std::round(*span.style.pointSize * 2) / 2] += span.length;
        }
    }
    std::optional<double> best;
    qint64 most = 0;
    for (auto it = totals.cbegin(); it != totals.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    }
    return best;
}

bool isPlainBlack(const QColor& colour)
{
    return colour.red() < 24 && colour.green() < 24 && colour.blue() < 24;
}

QTextCharFormat charFormatOf(const SourceCharStyle& style, std::optional<double> body, bool underlineIsNotItalic)
{
    QTextCharFormat format;
    if (style.pointSize && body && std::abs(*style.pointSize - *body) >= 0.25) {
        // Sizes keep their proportion to the body, which the rich text sets at 12 points.
        format.setFontPointSize(std::clamp(*style.pointSize * 12 / *body, 4.0, 96.0));
    }
    if (style.bold.value_or(false))
        format.setFontWeight(QFont::Bold);
    if (style.italic.value_or(false))
        format.setFontItalic(true);
    else if (underlineIsNotItalic && style.underline.value_or(false))
        format.setFontItalic(false);
    if (style.underline.value_or(false))
        format.setFontUnderline(true);
    if (style.strike.value_or(false))
        format.setFontStrikeOut(true);
    if (style.script && *style.script > 0)
        format.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    else if (style.script && *style.script < 0)
        format.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    if (style.colour && style.colour->isValid() && !isPlainBlack(*style.colour))
        format.setForeground(*style.colour);
    if (style.font && (*style.font == QLatin1String("monospace") || DocumentFonts::isFixedPitchFamily(*style.font))) {
        const QFont code = DocumentFonts::code(12);
        format.setFontFixedPitch(true);
        format.setFontFamilies(QStringList{code.family()});
        format.setFontStyleHint(QFont::Monospace);
    }
    return format;
}

// A quotation's slant is how its style draws quotations, which the rich text draws its own way.
SourceCharStyle quoteStyle(SourceCharStyle style, const SourceParagraph& paragraph)
{
    if (paragraph.quote)
        style.italic.reset();
    return style;
}

bool insideTable(const QTextBlock& block, const QTextDocument& document)
{
    QTextCursor cursor(block);
    return cursor.currentTable() != nullptr || cursor.currentFrame() != document.rootFrame();
}

void applyParagraph(QTextDocument& document, const QTextBlock& block, const SourceParagraph& source,
                    std::optional<double> body, bool underlineIsNotItalic)
{
    const QString blockText = block.text();
    QList<int> blockAt; // block offset of each kept character
    for (int i = 0; i < blockText.size(); ++i) {
        if (!ignored(blockText[i]))
            blockAt.append(i);
    }
    QTextCursor cursor(&document);
    // Each span runs to the next one's start, its own leading spaces included, so that the
    // spaces between them take the side they have in the file.
    struct Piece {
        int start;
        QTextCharFormat format;
    };
    QList<Piece> pieces;
    qsizetype kept = 0;
    std::pair<int, QTextCharFormat> carried;
    for (const SourceSpan& span : source.spans) {
        std::optional<qsizetype> first;
        int leading = 0; // ignored characters before the span's first kept one
        for (qsizetype i = span.start; i < span.start + span.length && i < source.text.size(); ++i) {
            if (ignored(source.text[i])) {
                leading += !first;
                continue;
            }
            if (!first)
                first = kept;
            ++kept;
        }
        if (!first) {
            // Spaces alone go with the next span when they look like it.
            carried = {leading, charFormatOf(quoteStyle(span.style, source), body, underlineIsNotItalic)};
            continue;
        }
        if (*first >= blockAt.size())
            continue;
        QTextCharFormat format = charFormatOf(quoteStyle(span.style, source), body, underlineIsNotItalic);
        if (carried.first > 0 && carried.second == format)
            leading += carried.first;
        carried = {};
        const int floor = *first > 0 ? blockAt[*first - 1] + 1 : 0;
        const int start = pieces.isEmpty() ? 0 : std::max(floor, blockAt[*first] - leading);
        if (!pieces.isEmpty() && pieces.last().format == format)
            continue;
        pieces.append({start, std::move(format)});
    }
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (pieces[i].format.properties().isEmpty())
            continue;
        const int start = block.position() + pieces[i].start;
        const int end = block.position() + (i + 1 < pieces.size() ? pieces[i + 1].start : blockText.size());
        if (!pieces[i].format.hasProperty(QTextFormat::FontPointSize)) {
            cursor.setPosition(start);
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(pieces[i].format);
            continue;
        }
        // A size stated outright replaces a heading's graded one, which would otherwise win.
        QList<std::pair<std::pair<int, int>, QTextCharFormat>> changes;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int from = std::max(start, fragment.position());
            const int to = std::min(end, fragment.position() + fragment.length());
            if (from >= to)
                continue;
            QTextCharFormat format = fragment.charFormat();
            format.merge(pieces[i].format);
            format.clearProperty(QTextFormat::FontSizeAdjustment);
            changes.append({{from, to}, format});
        }
        for (const auto& [range, format] : std::as_const(changes)) {
            cursor.setPosition(range.first);
            cursor.setPosition(range.second, QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }

    // Text set in Symbol reads as the signs the font draws, where the road left the font's codes.
    QList<qsizetype> keptIndex(source.text.size(), -1);
    for (qsizetype i = 0, k = 0; i < source.text.size(); ++i) {
        if (!ignored(source.text[i]))
            keptIndex[i] = k++;
    }
    for (const SourceSpan& span : source.spans) {
        if (!span.style.font || !SymbolFontText::isSymbolFont(*span.style.font))
            continue;
        for (qsizetype i = span.start; i < span.start + span.length && i < source.text.size(); ++i) {
            const qsizetype k = keptIndex[i];
            if (k < 0 || k >= blockAt.size() || blockText[blockAt[k]] != source.text[i])
                continue;
            const QChar drawn = SymbolFontText::character(source.text[i]);
            if (drawn == source.text[i])
                continue;
            cursor.setPosition(block.position() + blockAt[k]);
            cursor.setPosition(block.position() + blockAt[k] + 1, QTextCursor::KeepAnchor);
            cursor.insertText(QString(drawn), cursor.charFormat());
        }
    }

    if (source.cellBackground) {
        if (QTextTable* table = QTextCursor(block).currentTable()) {
            QTextTableCell cell = table->cellAt(block.position());
            QTextCharFormat cellFormat = cell.format();
            cellFormat.setBackground(*source.cellBackground);
            cell.setFormat(cellFormat);
        }
    }
    QTextBlockFormat format = block.blockFormat();
    bool changed = false;
    if (source.alignment && !(format.alignment() & source.alignment)) {
        format.setAlignment(source.alignment);
        changed = true;
    }
    const bool plain = !block.textList() && !insideTable(block, document);
    if (source.headingLevel > 0 && format.headingLevel() == 0 && plain) {
        format.setHeadingLevel(std::min(source.headingLevel, 6));
        changed = true;
    }
    if (source.quote && plain && format.property(QTextFormat::BlockQuoteLevel).toInt() == 0
        && format.headingLevel() == 0) {
        format.setProperty(QTextFormat::BlockQuoteLevel, 1);
        format.setLeftMargin(40);
        format.setRightMargin(40);
        changed = true;
    }
    if (changed) {
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
}

} // namespace

QString SourceStyleOverlay::matchKey(QStringView text)
{
    QString key;
    key.reserve(text.size());
    for (const QChar c : text) {
        if (!ignored(c))
            key += c;
    }
    return key;
}

int SourceStyleOverlay::apply(QTextDocument& document, const SourceStyles& styles, bool underlineIsNotItalic)
{
    QList<qsizetype> candidates; // paragraphs with text
    QStringList keys;
    for (qsizetype i = 0; i < styles.paragraphs.size(); ++i) {
        QString key = matchKey(styles.paragraphs[i].text);
        if (key.isEmpty())
            continue;
        candidates.append(i);
        keys.append(std::move(key));
    }
    if (candidates.isEmpty())
        return 0;
    const std::optional<double> body = bodySize(styles.paragraphs);
    int found = 0;
    qsizetype next = 0;
    QTextCursor edit(&document);
    edit.beginEditBlock();
    for (QTextBlock block = document.begin(); block.isValid() && next < candidates.size(); block = block.next()) {
        const QString key = matchKey(block.text());
        if (key.isEmpty())
            continue;
        const qsizetype last = std::min<qsizetype>(candidates.size(), next + lookAhead);
        for (qsizetype j = next; j < last; ++j) {
            if (keys[j] != key)
                continue;
            applyParagraph(document, block, styles.paragraphs[candidates[j]], body, underlineIsNotItalic);
            next = j + 1;
            ++found;
            break;
        }
    }
    edit.endEditBlock();
    return found;
}

} // namespace qv

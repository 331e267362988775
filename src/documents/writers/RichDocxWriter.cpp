#include "documents/writers/RichDocxWriter.h"

#include "documents/layout/DocumentFonts.h"
#include "documents/writers/DocxWriter.h"
#include "documents/writers/XMLNamespaces.h"
#include "model/errors/CancellationError.h"

#include <QHash>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

// Qt measures in pixels at 96 per inch; Word in twips, 1440 per inch.
constexpr double twipsPerPixel = 15.0;
// The text width of an A4 page with our margins, in twips.
constexpr int textWidth = 9637;
constexpr int headingLevels = 6;

QString twips(double pixels)
{
    return QString::number(std::lround(pixels * twipsPerPixel));
}

QString hex(const QColor& colour)
{
    return colour.name().mid(1).toUpper();
}

QString attribute(const QString& value)
{
    return docxEscape(value);
}

// A run's look, in the order WordprocessingML lists run properties.
QString runProperties(const QTextCharFormat& format)
{
    QString p;
    QStringList families = format.fontFamilies().toStringList();
    if (families.isEmpty() && format.hasProperty(QTextFormat::FontFamily))
        families.append(format.stringProperty(QTextFormat::FontFamily));
    families.removeAll(QString());
    QString face = DocumentFonts::faceName(families.value(0));
    if (face.isEmpty() && format.fontFixedPitch())
        face = QStringLiteral("Courier New");
    if (!face.isEmpty()) {
        const QString f = attribute(face);
        p += QStringLiteral("<w:rFonts w:ascii=\"") + f + QStringLiteral("\" w:hAnsi=\"") + f
            + QStringLiteral("\" w:cs=\"") + f + QStringLiteral("\"/>");
    }
    if (format.hasProperty(QTextFormat::FontWeight))
        p += format.fontWeight() >= QFont::DemiBold ? QStringLiteral("<w:b/>") : QStringLiteral("<w:b w:val=\"0\"/>");
    if (format.hasProperty(QTextFormat::FontItalic))
        p += format.fontItalic() ? QStringLiteral("<w:i/>") : QStringLiteral("<w:i w:val=\"0\"/>");
    if (format.fontCapitalization() == QFont::AllUppercase)
        p += QStringLiteral("<w:caps/>");
    else if (format.fontCapitalization() == QFont::SmallCaps)
        p += QStringLiteral("<w:smallCaps/>");
    if (format.fontStrikeOut())
        p += QStringLiteral("<w:strike/>");
    if (format.hasProperty(QTextFormat::ForegroundBrush) && format.foreground().style() != Qt::NoBrush)
        p += QStringLiteral("<w:color w:val=\"") + hex(format.foreground().color()) + QStringLiteral("\"/>");
    double points = 0;
    if (format.hasProperty(QTextFormat::FontPointSize))
        points = format.fontPointSize();
    else if (format.hasProperty(QTextFormat::FontPixelSize))
        points = format.intProperty(QTextFormat::FontPixelSize) * 0.75;
    if (points > 0) {
        const QString halves = QString::number(std::clamp(std::lround(points * 2), 2L, 3276L));
        p += QStringLiteral("<w:sz w:val=\"") + halves + QStringLiteral("\"/><w:szCs w:val=\"") + halves
            + QStringLiteral("\"/>");
    }
    if (format.fontUnderline())
        p += QStringLiteral("<w:u w:val=\"single\"/>");
    if (format.hasProperty(QTextFormat::BackgroundBrush) && format.background().style() != Qt::NoBrush)
        p += QStringLiteral("<w:shd w:val=\"clear\" w:color=\"auto\" w:fill=\"") + hex(format.background().color())
            + QStringLiteral("\"/>");
    if (format.verticalAlignment() == QTextCharFormat::AlignSuperScript)
        p += QStringLiteral("<w:vertAlign w:val=\"superscript\"/>");
    else if (format.verticalAlignment() == QTextCharFormat::AlignSubScript)
        p += QStringLiteral("<w:vertAlign w:val=\"subscript\"/>");
    return p;
}

// Characters as runs: tabs and line breaks are elements of their own.
QString runText(const QString& text)
{
    QString xml;
    QString pending;
    const auto flush = [&] {
        if (!pending.isEmpty())
            xml += QStringLiteral("<w:t xml:space=\"preserve\">") + docxEscape(pending) + QStringLiteral("</w:t>");
        pending.clear();
    };
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\t') {
            flush();
            xml += QStringLiteral("<w:tab/>");
        } else if (u == u'\n' || u == u'\r' || u == 0x2028) {
            flush();
            xml += QStringLiteral("<w:br/>");
        } else if (u != 0xFFFC && u != 0x2029) {
            pending += c;
        }
    }
    flush();
    return xml;
}

class BodyWriter {
public:
    BodyWriter(const QTextDocument& document, std::stop_token stop) : m_document(document), m_stop(std::move(stop)) {}

    void writeBody() { writeFrame(m_document.rootFrame()); }

    QString body;
    QStringList relationships;
    QList<int> orderedListIDs;

private:
    void writeFrame(QTextFrame* frame) { writeRange(frame->begin(), frame->end()); }

    void writeRange(QTextFrame::iterator it, QTextFrame::iterator end)
    {
        QTextFrame* previous = nullptr;
        for (; it != end; ++it) {
            if (QTextFrame* child = it.currentFrame()) {
                if (child != previous) {
                    if (auto* table = qobject_cast<QTextTable*>(child))
                        writeTable(table);
                    else
                        writeFrame(child);
                }
                previous = child;
            } else {
                writeBlock(it.currentBlock());
            }
        }
    }

    void writeTable(QTextTable* table)
    {
        const int columns = std::max(table->columns(), 1);
        const QString width = QString::number(textWidth / columns);
        body += QStringLiteral("<w:tbl><w:tblPr>");
        if (table->format().border() > 0)
            body += QStringLiteral("<w:tblStyle w:val=\"TableGrid\"/>");
        body += QStringLiteral("<w:tblW w:w=\"0\" w:type=\"auto\"/></w:tblPr><w:tblGrid>");
        for (int c = 0; c < columns; ++c)
            body += QStringLiteral("<w:gridCol w:w=\"") + width + QStringLiteral("\"/>");
        body += QStringLiteral("</w:tblGrid>");
        for (int row = 0; row < table->rows(); ++row) {
            body += QStringLiteral("<w:tr>");
            for (int column = 0; column < table->columns(); ++column) {
                const QTextTableCell cell = table->cellAt(row, column);
                if (cell.column() != column)
                    continue; // within a cell spanning columns
                QString properties = QStringLiteral("<w:tcW w:w=\"")
                    + QString::number(textWidth / columns * std::max(cell.columnSpan(), 1))
                    + QStringLiteral("\" w:type=\"dxa\"/>");
                if (cell.columnSpan() > 1)
                    properties += QStringLiteral("<w:gridSpan w:val=\"") + QString::number(cell.columnSpan())
                        + QStringLiteral("\"/>");
                if (cell.rowSpan() > 1)
                    properties += cell.row() == row ? QStringLiteral("<w:vMerge w:val=\"restart\"/>")
                                                    : QStringLiteral("<w:vMerge/>");
                const QTextCharFormat look = cell.format();
                if (look.hasProperty(QTextFormat::BackgroundBrush) && look.background().style() != Qt::NoBrush)
                    properties += QStringLiteral("<w:shd w:val=\"clear\" w:color=\"auto\" w:fill=\"")
                        + hex(look.background().color()) + QStringLiteral("\"/>");
                body += QStringLiteral("<w:tc><w:tcPr>") + properties + QStringLiteral("</w:tcPr>");
                if (cell.row() == row) {
                    const qsizetype before = body.size();
                    writeRange(cell.begin(), cell.end());
                    // A cell ends with a paragraph.
                    if (body.size() == before || body.endsWith(QLatin1String("</w:tbl>")))
                        body += QStringLiteral("<w:p/>");
                } else {
                    body += QStringLiteral("<w:p/>");
                }
                body += QStringLiteral("</w:tc>");
            }
            body += QStringLiteral("</w:tr>");
        }
        body += QStringLiteral("</w:tbl>");
    }

    QString listProperties(const QTextList* list)
    {
        const int style = int(list->format().style());
        int id = 1;
        // Disc, circle and square (and styles of Qt's own above them) are bullets.
        if (style < int(QTextListFormat::ListSquare)) {
            auto found = m_listIDs.constFind(list);
            if (found == m_listIDs.constEnd()) {
                const int next = int(orderedListIDs.size()) + 2;
                orderedListIDs.append(next);
                found = m_listIDs.insert(list, next);
            }
            id = *found;
        }
        const int level = std::clamp(list->format().indent() - 1, 0, 8);
        return QStringLiteral("<w:numPr><w:ilvl w:val=\"") + QString::number(level) + QStringLiteral("\"/><w:numId w:val=\"")
            + QString::number(id) + QStringLiteral("\"/></w:numPr>");
    }

    QString paragraphProperties(const QTextBlock& block)
    {
        const QTextBlockFormat format = block.blockFormat();
        const QTextList* list = block.textList();
        QString p;
        const int heading = std::clamp(format.headingLevel(), 0, headingLevels);
        // In the order WordprocessingML lists paragraph properties.
        if (list)
            p += QStringLiteral("<w:pStyle w:val=\"ListParagraph\"/>");
        else if (heading > 0)
            p += QStringLiteral("<w:pStyle w:val=\"Heading") + QString::number(heading) + QStringLiteral("\"/>");
        if (format.pageBreakPolicy().testFlag(QTextFormat::PageBreak_AlwaysBefore))
            p += QStringLiteral("<w:pageBreakBefore/>");
        if (list)
            p += listProperties(list);
        if (format.hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth))
            p += QStringLiteral("<w:pBdr><w:bottom w:val=\"single\" w:sz=\"6\" w:space=\"1\" w:color=\"808080\"/></w:pBdr>");
        if (format.hasProperty(QTextFormat::BackgroundBrush) && format.background().style() != Qt::NoBrush)
            p += QStringLiteral("<w:shd w:val=\"clear\" w:color=\"auto\" w:fill=\"") + hex(format.background().color())
                + QStringLiteral("\"/>");
        QString spacing;
        if (format.hasProperty(QTextFormat::BlockTopMargin))
            spacing += QStringLiteral(" w:before=\"") + twips(format.topMargin()) + QLatin1Char('"');
        if (format.hasProperty(QTextFormat::BlockBottomMargin))
            spacing += QStringLiteral(" w:after=\"") + twips(format.bottomMargin()) + QLatin1Char('"');
        if (!spacing.isEmpty())
            p += QStringLiteral("<w:spacing") + spacing + QStringLiteral("/>");
        // A list indents its items itself.
        const double left = format.leftMargin() + (list ? 0.0 : format.indent() * m_document.indentWidth());
        QString indent;
        if (left > 0)
            indent += QStringLiteral(" w:left=\"") + twips(left) + QLatin1Char('"');
        if (format.rightMargin() > 0)
            indent += QStringLiteral(" w:right=\"") + twips(format.rightMargin()) + QLatin1Char('"');
        if (format.textIndent() > 0)
            indent += QStringLiteral(" w:firstLine=\"") + twips(format.textIndent()) + QLatin1Char('"');
        else if (format.textIndent() < 0)
            indent += QStringLiteral(" w:hanging=\"") + twips(-format.textIndent()) + QLatin1Char('"');
        if (!indent.isEmpty() && !list)
            p += QStringLiteral("<w:ind") + indent + QStringLiteral("/>");
        if (format.hasProperty(QTextFormat::BlockAlignment)) {
            const Qt::Alignment horizontal = format.alignment() & Qt::AlignHorizontal_Mask;
            if (horizontal & (Qt::AlignRight | Qt::AlignTrailing))
                p += QStringLiteral("<w:jc w:val=\"right\"/>");
            else if (horizontal & Qt::AlignHCenter)
                p += QStringLiteral("<w:jc w:val=\"center\"/>");
            else if (horizontal & Qt::AlignJustify)
                p += QStringLiteral("<w:jc w:val=\"both\"/>");
            else if (horizontal & (Qt::AlignLeft | Qt::AlignLeading))
                p += QStringLiteral("<w:jc w:val=\"left\"/>");
        }
        return p;
    }

    QString link(const QString& href)
    {
        auto found = m_links.constFind(href);
        if (found == m_links.constEnd()) {
            const QString id = QStringLiteral("rIdLink") + QString::number(m_links.size() + 1);
            relationships.append(QStringLiteral("<Relationship Id=\"") + id + QStringLiteral("\" Type=\"")
                                 + XMLNamespaces::value(QStringLiteral("relHyperlink")) + QStringLiteral("\" Target=\"")
                                 + docxEscape(href) + QStringLiteral("\" TargetMode=\"External\"/>"));
            found = m_links.insert(href, id);
        }
        return *found;
    }

    void writeBlock(const QTextBlock& block)
    {
        if ((++m_blocks & 0xFF) == 0)
            throwIfCancelled(m_stop);
        const QString properties = paragraphProperties(block);
        body += QStringLiteral("<w:p>");
        if (!properties.isEmpty())
            body += QStringLiteral("<w:pPr>") + properties + QStringLiteral("</w:pPr>");
        QString openLink;
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (format.isImageFormat())
                continue;
            const QString href = format.isAnchor() ? format.anchorHref() : QString();
            const QString wanted = href.isEmpty() || href.startsWith(QLatin1Char('#')) ? QString() : href;
            if (wanted != openLink) {
                if (!openLink.isEmpty())
                    body += QStringLiteral("</w:hyperlink>");
                if (!wanted.isEmpty())
                    body += QStringLiteral("<w:hyperlink r:id=\"") + link(wanted) + QStringLiteral("\">");
                openLink = wanted;
            }
            const QString look = runProperties(format);
            body += QStringLiteral("<w:r>");
            if (!look.isEmpty())
                body += QStringLiteral("<w:rPr>") + look + QStringLiteral("</w:rPr>");
            body += runText(fragment.text()) + QStringLiteral("</w:r>");
        }
        if (!openLink.isEmpty())
            body += QStringLiteral("</w:hyperlink>");
        if (block.blockFormat().pageBreakPolicy().testFlag(QTextFormat::PageBreak_AlwaysAfter))
            body += QStringLiteral("<w:r><w:br w:type=\"page\"/></w:r>");
        body += QStringLiteral("</w:p>");
    }

    const QTextDocument& m_document;
    std::stop_token m_stop;
    QHash<const QTextList*, int> m_listIDs;
    QHash<QString, QString> m_links;
    int m_blocks = 0;
};

} // namespace

bool RichDocxWriter::hasPictures(const QTextDocument& text)
{
    for (QTextBlock block = text.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat())
                return true;
        }
    }
    return false;
}

void RichDocxWriter::write(const QTextDocument& text, const QString& title, bool letterPaper, const QString& path,
                           std::stop_token stop)
{
    throwIfCancelled(stop);
    BodyWriter writer(text, stop);
    writer.writeBody();
    writeDOCXPackage(writer.body, writer.relationships, writer.orderedListIDs, title, letterPaper, path, stop);
}

} // namespace qv

#include "documents/writers/OdtWriter.h"

#include "documents/layout/DocumentFonts.h"
#include "documents/writers/ZipPackageWriter.h"
#include "model/errors/CancellationError.h"

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>
#include <QUrl>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

// One style attribute by its qualified name; a style is an ordered list of them.
using Properties = QList<std::pair<QString, QString>>;

constexpr int headingLevels = 10;
// Qt measures in pixels at 96 per inch.
constexpr double pointsPerPixel = 0.75;
// The text width of an A4 page with 2 cm margins, the widest a picture is placed.
constexpr double widestPicture = 481.0;

const char namespaces[] =
    " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
    " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
    " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
    " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
    " xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\""
    " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\""
    " xmlns:xlink=\"http://www.w3.org/1999/xlink\""
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\""
    " xmlns:meta=\"urn:oasis:names:tc:opendocument:xmlns:meta:1.0\""
    " xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\""
    " office:version=\"1.2\"";

QString points(double pixels)
{
    return QString::number(std::round(pixels * pointsPerPixel * 100.0) / 100.0) + QStringLiteral("pt");
}

QString headingStyle(int level)
{
    return QStringLiteral("Heading_20_") + QString::number(level);
}

QString quotedFamily(const QString& family)
{
    return family.contains(QLatin1Char(' ')) ? QLatin1Char('\'') + family + QLatin1Char('\'') : family;
}

void writeProperties(QXmlStreamWriter& xml, const QString& element, const Properties& properties)
{
    if (properties.isEmpty())
        return;
    xml.writeEmptyElement(element);
    for (const auto& [name, value] : properties)
        xml.writeAttribute(name, value);
}

// What a run of characters looks like, as far as ODF shows it. Inside a heading, the bold and the
// size the heading style gives are left to it.
Properties textProperties(const QTextCharFormat& format, bool inHeading)
{
    Properties p;
    if (format.hasProperty(QTextFormat::FontWeight)) {
        const bool bold = format.fontWeight() >= QFont::DemiBold;
        if (bold != inHeading)
            p.append({QStringLiteral("fo:font-weight"), bold ? QStringLiteral("bold") : QStringLiteral("normal")});
    }
    if (format.fontItalic())
        p.append({QStringLiteral("fo:font-style"), QStringLiteral("italic")});
    if (format.fontUnderline())
        p.append({QStringLiteral("style:text-underline-style"), QStringLiteral("solid")});
    if (format.fontStrikeOut())
        p.append({QStringLiteral("style:text-line-through-style"), QStringLiteral("solid")});
    if (format.hasProperty(QTextFormat::FontPointSize) && format.fontPointSize() > 0)
        p.append({QStringLiteral("fo:font-size"), QString::number(format.fontPointSize()) + QStringLiteral("pt")});
    else if (format.hasProperty(QTextFormat::FontPixelSize) && format.intProperty(QTextFormat::FontPixelSize) > 0)
        p.append({QStringLiteral("fo:font-size"), points(format.intProperty(QTextFormat::FontPixelSize))});
    else if (!inHeading && format.hasProperty(QTextFormat::FontSizeAdjustment)
             && format.intProperty(QTextFormat::FontSizeAdjustment) != 0)
        p.append({QStringLiteral("fo:font-size"),
                  QString::number(std::lround(100.0 * std::pow(1.2, format.intProperty(QTextFormat::FontSizeAdjustment))))
                      + QLatin1Char('%')});
    QStringList families = format.fontFamilies().toStringList();
    if (families.isEmpty() && format.hasProperty(QTextFormat::FontFamily))
        families.append(format.stringProperty(QTextFormat::FontFamily));
    families.removeAll(QString());
    if (!families.isEmpty()) {
        QStringList quoted;
        for (const QString& family : families)
            quoted.append(quotedFamily(DocumentFonts::faceName(family)));
        p.append({QStringLiteral("fo:font-family"), quoted.join(QStringLiteral(", "))});
    } else if (format.fontFixedPitch()) {
        p.append({QStringLiteral("fo:font-family"), quotedFamily(DocumentFonts::code(10).family())});
        p.append({QStringLiteral("style:font-pitch"), QStringLiteral("fixed")});
    }
    if (format.hasProperty(QTextFormat::ForegroundBrush) && format.foreground().style() != Qt::NoBrush)
        p.append({QStringLiteral("fo:color"), format.foreground().color().name()});
    if (format.hasProperty(QTextFormat::BackgroundBrush) && format.background().style() != Qt::NoBrush)
        p.append({QStringLiteral("fo:background-color"), format.background().color().name()});
    if (format.verticalAlignment() == QTextCharFormat::AlignSuperScript)
        p.append({QStringLiteral("style:text-position"), QStringLiteral("super 58%")});
    else if (format.verticalAlignment() == QTextCharFormat::AlignSubScript)
        p.append({QStringLiteral("style:text-position"), QStringLiteral("sub 58%")});
    if (format.fontCapitalization() == QFont::SmallCaps)
        p.append({QStringLiteral("fo:font-variant"), QStringLiteral("small-caps")});
    else if (format.fontCapitalization() == QFont::AllUppercase)
        p.append({QStringLiteral("fo:text-transform"), QStringLiteral("uppercase")});
    return p;
}

Properties paragraphProperties(const QTextBlockFormat& format, bool inList, double indentWidth)
{
    Properties p;
    if (format.hasProperty(QTextFormat::BlockAlignment)) {
        const Qt::Alignment horizontal = format.alignment() & Qt::AlignHorizontal_Mask;
        if (horizontal & (Qt::AlignRight | Qt::AlignTrailing))
            p.append({QStringLiteral("fo:text-align"), QStringLiteral("end")});
        else if (horizontal & Qt::AlignHCenter)
            p.append({QStringLiteral("fo:text-align"), QStringLiteral("center")});
        else if (horizontal & Qt::AlignJustify)
            p.append({QStringLiteral("fo:text-align"), QStringLiteral("justify")});
    }
    if (format.hasProperty(QTextFormat::BlockTopMargin))
        p.append({QStringLiteral("fo:margin-top"), points(format.topMargin())});
    if (format.hasProperty(QTextFormat::BlockBottomMargin))
        p.append({QStringLiteral("fo:margin-bottom"), points(format.bottomMargin())});
    // A list indents its items itself.
    const double left = format.leftMargin() + (inList ? 0.0 : format.indent() * indentWidth);
    if (left > 0)
        p.append({QStringLiteral("fo:margin-left"), points(left)});
    if (format.rightMargin() > 0)
        p.append({QStringLiteral("fo:margin-right"), points(format.rightMargin())});
    if (format.textIndent() != 0)
        p.append({QStringLiteral("fo:text-indent"), points(format.textIndent())});
    if (format.pageBreakPolicy().testFlag(QTextFormat::PageBreak_AlwaysBefore))
        p.append({QStringLiteral("fo:break-before"), QStringLiteral("page")});
    if (format.pageBreakPolicy().testFlag(QTextFormat::PageBreak_AlwaysAfter))
        p.append({QStringLiteral("fo:break-after"), QStringLiteral("page")});
    if (format.hasProperty(QTextFormat::BackgroundBrush) && format.background().style() != Qt::NoBrush)
        p.append({QStringLiteral("fo:background-color"), format.background().color().name()});
    if (format.hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth))
        p.append({QStringLiteral("fo:border-bottom"), QStringLiteral("0.5pt solid #808080")});
    return p;
}

// The automatic styles one document needs, each set of properties named once.
class AutomaticStyles {
public:
    QString paragraph(const Properties& properties, const QString& parent)
    {
        return named(QStringLiteral("P"), QStringLiteral("paragraph"), parent, properties,
                     QStringLiteral("style:paragraph-properties"));
    }
    QString text(const Properties& properties)
    {
        return named(QStringLiteral("T"), QStringLiteral("text"), QString(), properties,
                     QStringLiteral("style:text-properties"));
    }
    QString cell()
    {
        return named(QStringLiteral("Cell"), QStringLiteral("table-cell"), QString(),
                     {{QStringLiteral("fo:border"), QStringLiteral("0.5pt solid #000000")},
                      {QStringLiteral("fo:padding"), QStringLiteral("2pt")}},
                     QStringLiteral("style:table-cell-properties"));
    }
    // A list style for Qt's list style number, the same marker on every level.
    QString list(QTextListFormat::Style style)
    {
        const QString key = QString::number(int(style));
        if (const auto found = m_lists.constFind(key); found != m_lists.constEnd())
            return *found;
        const QString name = QStringLiteral("L") + QString::number(m_lists.size() + 1);
        m_lists.insert(key, name);
        m_xml.writeStartElement(QStringLiteral("text:list-style"));
        m_xml.writeAttribute(QStringLiteral("style:name"), name);
        for (int level = 1; level <= headingLevels; ++level) {
            const QString indent = QString::number(0.635 * level, 'f', 3) + QStringLiteral("cm");
            const bool bullet = style == QTextListFormat::ListDisc || style == QTextListFormat::ListCircle
                || style == QTextListFormat::ListSquare || int(style) >= 0;
            if (bullet) {
                m_xml.writeStartElement(QStringLiteral("text:list-level-style-bullet"));
                m_xml.writeAttribute(QStringLiteral("text:level"), QString::number(level));
                const QChar mark = style == QTextListFormat::ListCircle ? QChar(0x25E6)
                    : style == QTextListFormat::ListSquare              ? QChar(0x25AA)
                                                                        : QChar(0x2022);
                m_xml.writeAttribute(QStringLiteral("text:bullet-char"), QString(mark));
            } else {
                m_xml.writeStartElement(QStringLiteral("text:list-level-style-number"));
                m_xml.writeAttribute(QStringLiteral("text:level"), QString::number(level));
                m_xml.writeAttribute(QStringLiteral("style:num-suffix"), QStringLiteral("."));
                m_xml.writeAttribute(QStringLiteral("style:num-format"), numberFormat(style));
            }
            m_xml.writeStartElement(QStringLiteral("style:list-level-properties"));
            m_xml.writeAttribute(QStringLiteral("text:list-level-position-and-space-mode"),
                                 QStringLiteral("label-alignment"));
            m_xml.writeEmptyElement(QStringLiteral("style:list-level-label-alignment"));
            m_xml.writeAttribute(QStringLiteral("text:label-followed-by"), QStringLiteral("listtab"));
            m_xml.writeAttribute(QStringLiteral("text:list-tab-stop-position"), indent);
            m_xml.writeAttribute(QStringLiteral("fo:text-indent"), QStringLiteral("-0.635cm"));
            m_xml.writeAttribute(QStringLiteral("fo:margin-left"), indent);
            m_xml.writeEndElement();
            m_xml.writeEndElement();
        }
        m_xml.writeEndElement();
        return name;
    }

    QByteArray bytes() const { return m_bytes; }

private:
    static QString numberFormat(QTextListFormat::Style style)
    {
        switch (style) {
        case QTextListFormat::ListLowerAlpha: return QStringLiteral("a");
        case QTextListFormat::ListUpperAlpha: return QStringLiteral("A");
        case QTextListFormat::ListLowerRoman: return QStringLiteral("i");
        case QTextListFormat::ListUpperRoman: return QStringLiteral("I");
        default: return QStringLiteral("1");
        }
    }

    QString named(const QString& prefix, const QString& family, const QString& parent, const Properties& properties,
                  const QString& element)
    {
        QString key = family + QLatin1Char('|') + parent;
        for (const auto& [name, value] : properties)
            key += QLatin1Char('|') + name + QLatin1Char('=') + value;
        if (const auto found = m_names.constFind(key); found != m_names.constEnd())
            return *found;
        const QString name = prefix + QString::number(++m_counts[prefix]);
        m_names.insert(key, name);
        m_xml.writeStartElement(QStringLiteral("style:style"));
        m_xml.writeAttribute(QStringLiteral("style:name"), name);
        m_xml.writeAttribute(QStringLiteral("style:family"), family);
        if (!parent.isEmpty())
            m_xml.writeAttribute(QStringLiteral("style:parent-style-name"), parent);
        writeProperties(m_xml, element, properties);
        m_xml.writeEndElement();
        return name;
    }

    QByteArray m_bytes;
    QBuffer m_buffer{&m_bytes};
    QXmlStreamWriter m_xml{openBuffer()};
    QHash<QString, QString> m_names;
    QHash<QString, int> m_counts;
    QHash<QString, QString> m_lists;

    QIODevice* openBuffer()
    {
        m_buffer.open(QIODevice::WriteOnly);
        return &m_buffer;
    }
};

struct Picture {
    QString path;
    QString mediaType;
    QByteArray bytes;
};

class ContentWriter {
public:
    ContentWriter(const QTextDocument& document, std::stop_token stop) : m_document(document), m_stop(stop)
    {
        m_buffer.open(QIODevice::WriteOnly);
        m_xml.setDevice(&m_buffer);
    }

    void writeBody()
    {
        writeFrame(m_document.rootFrame());
        closeLists(0);
    }

    QByteArray body() const { return m_bytes; }
    QByteArray styles() const { return m_styles.bytes(); }
    const QList<Picture>& pictures() const { return m_pictures; }

private:
    struct OpenList {
        const QTextList* list;
        int level;
        bool itemOpen;
    };

    void writeFrame(QTextFrame* frame)
    {
        QTextFrame* previous = nullptr;
        for (QTextFrame::iterator it = frame->begin(); !it.atEnd(); ++it) {
            if (QTextFrame* child = it.currentFrame()) {
                if (child != previous) {
                    closeLists(0);
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
        m_xml.writeStartElement(QStringLiteral("table:table"));
        m_xml.writeAttribute(QStringLiteral("table:name"), QStringLiteral("Table") + QString::number(++m_tables));
        m_xml.writeEmptyElement(QStringLiteral("table:table-column"));
        m_xml.writeAttribute(QStringLiteral("table:number-columns-repeated"), QString::number(table->columns()));
        const QString cellStyle = table->format().border() > 0 ? m_styles.cell() : QString();
        for (int row = 0; row < table->rows(); ++row) {
            m_xml.writeStartElement(QStringLiteral("table:table-row"));
            for (int column = 0; column < table->columns(); ++column) {
                const QTextTableCell cell = table->cellAt(row, column);
                if (cell.row() != row || cell.column() != column) {
                    m_xml.writeEmptyElement(QStringLiteral("table:covered-table-cell"));
                    continue;
                }
                m_xml.writeStartElement(QStringLiteral("table:table-cell"));
                m_xml.writeAttribute(QStringLiteral("office:value-type"), QStringLiteral("string"));
                if (!cellStyle.isEmpty())
                    m_xml.writeAttribute(QStringLiteral("table:style-name"), cellStyle);
                if (cell.columnSpan() > 1)
                    m_xml.writeAttribute(QStringLiteral("table:number-columns-spanned"), QString::number(cell.columnSpan()));
                if (cell.rowSpan() > 1)
                    m_xml.writeAttribute(QStringLiteral("table:number-rows-spanned"), QString::number(cell.rowSpan()));
                QTextFrame* previous = nullptr;
                for (QTextFrame::iterator it = cell.begin(); it != cell.end(); ++it) {
                    if (QTextFrame* child = it.currentFrame()) {
                        if (child != previous) {
                            closeLists(0);
                            if (auto* inner = qobject_cast<QTextTable*>(child))
                                writeTable(inner);
                            else
                                writeFrame(child);
                        }
                        previous = child;
                    } else {
                        writeBlock(it.currentBlock());
                    }
                }
                closeLists(0);
                m_xml.writeEndElement();
            }
            m_xml.writeEndElement();
        }
        m_xml.writeEndElement();
    }

    // Closes the lists deeper than level, and at level one that is not `keep`.
    void closeLists(int level, const QTextList* keep = nullptr)
    {
        while (!m_lists.isEmpty()
               && (m_lists.last().level > level || (m_lists.last().level == level && m_lists.last().list != keep))) {
            if (m_lists.last().itemOpen)
                m_xml.writeEndElement(); // list-item
            m_xml.writeEndElement(); // list
            m_lists.removeLast();
        }
    }

    void enterListItem(const QTextList* list)
    {
        const int level = std::max(list->format().indent(), 1);
        closeLists(level, list);
        if (m_lists.isEmpty() || m_lists.last().list != list) {
            m_xml.writeStartElement(QStringLiteral("text:list"));
            m_xml.writeAttribute(QStringLiteral("text:style-name"), m_styles.list(list->format().style()));
            m_lists.append({list, level, false});
        }
        if (m_lists.last().itemOpen)
            m_xml.writeEndElement();
        m_xml.writeStartElement(QStringLiteral("text:list-item"));
        m_lists.last().itemOpen = true;
    }

    void writeBlock(const QTextBlock& block)
    {
        if ((++m_blocks & 0xFF) == 0)
            throwIfCancelled(m_stop);
        const QTextList* list = block.textList();
        if (list)
            enterListItem(list);
        else
            closeLists(0);

        const QTextBlockFormat format = block.blockFormat();
        const int level = std::clamp(format.headingLevel(), 0, headingLevels);
        const QString parent = level > 0 ? headingStyle(level) : QStringLiteral("Standard");
        const Properties properties = paragraphProperties(format, list, m_document.indentWidth());
        m_xml.writeStartElement(level > 0 ? QStringLiteral("text:h") : QStringLiteral("text:p"));
        m_xml.writeAttribute(QStringLiteral("text:style-name"),
                             properties.isEmpty() ? parent : m_styles.paragraph(properties, parent));
        if (level > 0)
            m_xml.writeAttribute(QStringLiteral("text:outline-level"), QString::number(level));

        m_afterSpace = true;
        QString runStyle;
        QString runLink;
        QString runText;
        const auto flush = [&] {
            if (runText.isEmpty())
                return;
            if (!runLink.isEmpty()) {
                m_xml.writeStartElement(QStringLiteral("text:a"));
                m_xml.writeAttribute(QStringLiteral("xlink:type"), QStringLiteral("simple"));
                m_xml.writeAttribute(QStringLiteral("xlink:href"), runLink);
            }
            if (!runStyle.isEmpty()) {
                m_xml.writeStartElement(QStringLiteral("text:span"));
                m_xml.writeAttribute(QStringLiteral("text:style-name"), runStyle);
            }
            writeText(runText);
            if (!runStyle.isEmpty())
                m_xml.writeEndElement();
            if (!runLink.isEmpty())
                m_xml.writeEndElement();
            runText.clear();
        };
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat charFormat = fragment.charFormat();
            if (charFormat.isImageFormat()) {
                flush();
                const int count = int(fragment.text().count(QChar::ObjectReplacementCharacter));
                for (int i = 0; i < std::max(count, 1); ++i)
                    writePicture(charFormat.toImageFormat());
                m_afterSpace = false;
                continue;
            }
            const Properties look = textProperties(charFormat, level > 0);
            const QString style = look.isEmpty() ? QString() : m_styles.text(look);
            const QString link = charFormat.isAnchor() ? charFormat.anchorHref() : QString();
            if (style != runStyle || link != runLink) {
                flush();
                runStyle = style;
                runLink = link;
            }
            runText += fragment.text();
        }
        flush();
        m_xml.writeEndElement();
    }

    // Characters as ODF keeps them: a run of spaces, a tab and a line break are elements of their
    // own, as white space in the XML collapses.
    void writeText(const QString& text)
    {
        QString pending;
        int spaces = 0;
        const auto flushSpaces = [&] {
            if (!pending.isEmpty())
                m_xml.writeCharacters(pending);
            pending.clear();
            if (spaces > 0) {
                m_xml.writeEmptyElement(QStringLiteral("text:s"));
                if (spaces > 1)
                    m_xml.writeAttribute(QStringLiteral("text:c"), QString::number(spaces));
            }
            spaces = 0;
        };
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            if (u == u' ') {
                if (m_afterSpace) {
                    ++spaces;
                } else {
                    pending += c;
                    m_afterSpace = true;
                }
                continue;
            }
            if (spaces > 0)
                flushSpaces();
            if (u == u'\t') {
                flushSpaces();
                m_xml.writeEmptyElement(QStringLiteral("text:tab"));
                m_afterSpace = false;
            } else if (u == 0x2028 || u == u'\n' || u == u'\r') {
                flushSpaces();
                m_xml.writeEmptyElement(QStringLiteral("text:line-break"));
                m_afterSpace = true;
            } else if (u < 0x20 || u == 0xFFFC || u == 0xFFFE || u == 0xFFFF || u == 0x2029) {
                // Not allowed in XML, or an object that is not a picture.
            } else {
                pending += c;
                m_afterSpace = false;
            }
        }
        flushSpaces();
    }

    void writePicture(const QTextImageFormat& format)
    {
        const QString name = format.name();
        auto found = m_pictureNames.constFind(name);
        if (found == m_pictureNames.constEnd()) {
            const QVariant resource = m_document.resource(QTextDocument::ImageResource, QUrl(name));
            Picture picture;
            QImage image;
            if (resource.typeId() == QMetaType::QByteArray) {
                picture.bytes = resource.toByteArray();
                QBuffer buffer(&picture.bytes);
                QImageReader reader(&buffer);
                const QByteArray kind = reader.format();
                image = reader.read();
                if (kind == "png")
                    picture.mediaType = QStringLiteral("image/png");
                else if (kind == "jpeg" || kind == "jpg")
                    picture.mediaType = QStringLiteral("image/jpeg");
            } else if (resource.typeId() == QMetaType::QImage) {
                image = resource.value<QImage>();
            }
            if (image.isNull()) {
                m_pictureNames.insert(name, -1);
                return;
            }
            if (picture.mediaType.isEmpty()) {
                picture.bytes.clear();
                QBuffer out(&picture.bytes);
                out.open(QIODevice::WriteOnly);
                if (!image.save(&out, "PNG")) {
                    m_pictureNames.insert(name, -1);
                    return;
                }
                picture.mediaType = QStringLiteral("image/png");
            }
            picture.path = QStringLiteral("Pictures/image%1.%2")
                               .arg(m_pictures.size() + 1)
                               .arg(picture.mediaType == QLatin1String("image/png") ? QStringLiteral("png")
                                                                                    : QStringLiteral("jpg"));
            m_pictureSizes.append(image.size());
            m_pictures.append(picture);
            found = m_pictureNames.insert(name, int(m_pictures.size() - 1));
        }
        if (*found < 0)
            return;
        const QSize size = m_pictureSizes[*found];
        double width = format.width() > 0 ? format.width() : size.width();
        double height = format.height() > 0 ? format.height()
            : format.width() > 0 && size.width() > 0 ? size.height() * width / size.width()
                                                     : size.height();
        width *= pointsPerPixel;
        height *= pointsPerPixel;
        if (width > widestPicture) {
            height *= widestPicture / width;
            width = widestPicture;
        }
        m_xml.writeStartElement(QStringLiteral("draw:frame"));
        m_xml.writeAttribute(QStringLiteral("draw:name"), QStringLiteral("Picture") + QString::number(++m_frames));
        m_xml.writeAttribute(QStringLiteral("text:anchor-type"), QStringLiteral("as-char"));
        m_xml.writeAttribute(QStringLiteral("svg:width"), QString::number(std::max(width, 1.0), 'f', 2) + QStringLiteral("pt"));
        m_xml.writeAttribute(QStringLiteral("svg:height"), QString::number(std::max(height, 1.0), 'f', 2) + QStringLiteral("pt"));
        m_xml.writeEmptyElement(QStringLiteral("draw:image"));
        m_xml.writeAttribute(QStringLiteral("xlink:href"), m_pictures[*found].path);
        m_xml.writeAttribute(QStringLiteral("xlink:type"), QStringLiteral("simple"));
        m_xml.writeAttribute(QStringLiteral("xlink:show"), QStringLiteral("embed"));
        m_xml.writeAttribute(QStringLiteral("xlink:actuate"), QStringLiteral("onLoad"));
        m_xml.writeEndElement();
    }

    const QTextDocument& m_document;
    std::stop_token m_stop;
    QByteArray m_bytes;
    QBuffer m_buffer{&m_bytes};
    QXmlStreamWriter m_xml;
    AutomaticStyles m_styles;
    QList<OpenList> m_lists;
    QList<Picture> m_pictures;
    QList<QSize> m_pictureSizes;
    QHash<QString, int> m_pictureNames;
    bool m_afterSpace = true;
    int m_tables = 0;
    int m_frames = 0;
    int m_blocks = 0;
};

QByteArray stylesXml(const QFont& font)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&buffer);
    const auto style = [&](const QString& name, const QString& display, const QString& parent, int outline,
                           const Properties& paragraph, const Properties& text) {
        xml.writeStartElement(QStringLiteral("style:style"));
        xml.writeAttribute(QStringLiteral("style:name"), name);
        xml.writeAttribute(QStringLiteral("style:display-name"), display);
        xml.writeAttribute(QStringLiteral("style:family"), QStringLiteral("paragraph"));
        if (!parent.isEmpty())
            xml.writeAttribute(QStringLiteral("style:parent-style-name"), parent);
        if (outline > 0) {
            xml.writeAttribute(QStringLiteral("style:next-style-name"), QStringLiteral("Standard"));
            xml.writeAttribute(QStringLiteral("style:default-outline-level"), QString::number(outline));
        }
        writeProperties(xml, QStringLiteral("style:paragraph-properties"), paragraph);
        writeProperties(xml, QStringLiteral("style:text-properties"), text);
        xml.writeEndElement();
    };
    xml.writeStartElement(QStringLiteral("office:styles"));
    xml.writeStartElement(QStringLiteral("style:default-style"));
    xml.writeAttribute(QStringLiteral("style:family"), QStringLiteral("paragraph"));
    Properties defaults;
    if (!font.family().isEmpty())
        defaults.append({QStringLiteral("fo:font-family"), quotedFamily(DocumentFonts::faceName(font.family()))});
    if (font.pointSizeF() > 0)
        defaults.append({QStringLiteral("fo:font-size"), QString::number(font.pointSizeF()) + QStringLiteral("pt")});
    writeProperties(xml, QStringLiteral("style:text-properties"), defaults);
    xml.writeEndElement();
    style(QStringLiteral("Standard"), QStringLiteral("Default Paragraph Style"), QString(), 0, {}, {});
    style(QStringLiteral("Heading"), QStringLiteral("Heading"), QStringLiteral("Standard"), 0,
          {{QStringLiteral("fo:margin-top"), QStringLiteral("12pt")},
           {QStringLiteral("fo:margin-bottom"), QStringLiteral("6pt")},
           {QStringLiteral("fo:keep-with-next"), QStringLiteral("always")}},
          {{QStringLiteral("fo:font-weight"), QStringLiteral("bold")}});
    static const char* const sizes[headingLevels] = {"130%", "115%", "101%", "95%", "85%",
                                                     "85%",  "85%",  "85%",  "85%", "75%"};
    for (int level = 1; level <= headingLevels; ++level)
        style(headingStyle(level), QStringLiteral("Heading ") + QString::number(level), QStringLiteral("Heading"), level,
              {}, {{QStringLiteral("fo:font-size"), QString::fromLatin1(sizes[level - 1])}});
    xml.writeStartElement(QStringLiteral("text:outline-style"));
    xml.writeAttribute(QStringLiteral("style:name"), QStringLiteral("Outline"));
    for (int level = 1; level <= headingLevels; ++level) {
        xml.writeEmptyElement(QStringLiteral("text:outline-level-style"));
        xml.writeAttribute(QStringLiteral("text:level"), QString::number(level));
        xml.writeAttribute(QStringLiteral("style:num-format"), QString());
    }
    xml.writeEndElement();
    xml.writeEndElement();
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-styles") + namespaces + '>'
        + bytes + "</office:document-styles>\n";
}

QByteArray metaXml(const QString& title)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&buffer);
    xml.writeStartElement(QStringLiteral("office:meta"));
    xml.writeTextElement(QStringLiteral("meta:generator"), QStringLiteral("Quorvenda"));
    if (!title.isEmpty())
        xml.writeTextElement(QStringLiteral("dc:title"), title);
    xml.writeEndElement();
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-meta") + namespaces + '>'
        + bytes + "</office:document-meta>\n";
}

QByteArray manifestXml(const QList<Picture>& pictures)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&buffer);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("manifest:manifest"));
    xml.writeAttribute(QStringLiteral("xmlns:manifest"), QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:manifest:1.0"));
    xml.writeAttribute(QStringLiteral("manifest:version"), QStringLiteral("1.2"));
    const auto entry = [&](const QString& path, const QString& type) {
        xml.writeEmptyElement(QStringLiteral("manifest:file-entry"));
        xml.writeAttribute(QStringLiteral("manifest:full-path"), path);
        xml.writeAttribute(QStringLiteral("manifest:media-type"), type);
    };
    entry(QStringLiteral("/"), QStringLiteral("application/vnd.oasis.opendocument.text"));
    entry(QStringLiteral("content.xml"), QStringLiteral("text/xml"));
    entry(QStringLiteral("styles.xml"), QStringLiteral("text/xml"));
    entry(QStringLiteral("meta.xml"), QStringLiteral("text/xml"));
    for (const Picture& picture : pictures)
        entry(picture.path, picture.mediaType);
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}

} // namespace

void OdtWriter::write(const QTextDocument& text, const QString& title, const QString& path, std::stop_token stop)
{
    throwIfCancelled(stop);
    ContentWriter content(text, stop);
    content.writeBody();
    const QByteArray contentXml = QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content")
        + namespaces + "><office:automatic-styles>" + content.styles()
        + "</office:automatic-styles><office:body><office:text>" + content.body()
        + "</office:text></office:body></office:document-content>\n";

    using M = ZipPackageWriter::Method;
    ZipPackageWriter zip(path, stop);
    zip.add(QStringLiteral("mimetype"), QByteArrayLiteral("application/vnd.oasis.opendocument.text"), M::stored);
    zip.add(QStringLiteral("content.xml"), contentXml, M::deflated);
    zip.add(QStringLiteral("styles.xml"), stylesXml(text.defaultFont()), M::deflated);
    zip.add(QStringLiteral("meta.xml"), metaXml(title), M::deflated);
    for (const Picture& picture : content.pictures())
        zip.add(picture.path, picture.bytes, M::stored);
    zip.add(QStringLiteral("META-INF/manifest.xml"), manifestXml(content.pictures()), M::deflated);
    zip.finish();
}

} // namespace qv

#include "documents/styles/OpenDocumentStyleReader.h"

#include <QHash>
#include <QRegularExpression>
#include <QXmlStreamReader>

namespace qv {
namespace {

struct OpenStyle {
    QString parent;
    SourceCharStyle chars;
    std::optional<double> sizePercent; // of the parent's size
    std::optional<Qt::Alignment> alignment;
    bool quote = false;
};

// Where the default style of a family is kept among the named ones: no name a file can give.
QString defaultStyleKey()
{
    return QStringLiteral("\u0001" "default");
}

std::optional<double> lengthInPoints(QStringView value)
{
    static const QRegularExpression length(QStringLiteral("^\\s*([0-9.]+)\\s*(pt|cm|mm|in|pc|px)?\\s*$"));
    const QRegularExpressionMatch m = length.match(value);
    if (!m.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double number = m.captured(1).toDouble(&ok);
    if (!ok)
        return std::nullopt;
    const QString unit = m.captured(2);
    if (unit == QLatin1String("cm"))
        return number * 72 / 2.54;
    if (unit == QLatin1String("mm"))
        return number * 72 / 25.4;
    if (unit == QLatin1String("in"))
        return number * 72;
    if (unit == QLatin1String("pc"))
        return number * 12;
    if (unit == QLatin1String("px"))
        return number * 0.75;
    return number;
}

class Styles {
public:
    QHash<QString, bool> fixedFaces;   // font-face name → fixed pitch
    QHash<QString, QString> faceFamily; // font-face name → family
    QHash<QString, OpenStyle> paragraph; // paragraph styles (and the default under "")
    QHash<QString, OpenStyle> text;
    QHash<QString, QColor> cellBackgrounds; // table-cell styles that shade their cell
    QHash<QString, QSizeF> layouts;
    QHash<QString, QMarginsF> layoutMargins;
    QHash<QString, bool> layoutLandscape;
    QString firstMasterLayout;
    QString firstMaster;
    QHash<QString, QString> masterLayouts;
    QHash<QString, QString> masterHeaders;
    QHash<QString, QString> masterFooters;

    // A master page's header or footer: its paragraphs on lines, page numbers as marks. The
    // reader ends on the element's end.
    static QString runningText(QXmlStreamReader& reader)
    {
        QStringList lines;
        QString line;
        int depth = 1;
        while (depth > 0 && !reader.atEnd() && !reader.hasError()) {
            reader.readNext();
            if (reader.isStartElement()) {
                ++depth;
                if (reader.qualifiedName() == QLatin1String("text:page-number")) {
                    line += QChar(SourceStyles::pageNumberMark);
                    reader.skipCurrentElement();
                    --depth;
                } else if (reader.qualifiedName() == QLatin1String("text:page-count")) {
                    line += QChar(SourceStyles::pageCountMark);
                    reader.skipCurrentElement();
                    --depth;
                } else if (reader.qualifiedName() == QLatin1String("text:tab")) {
                    line += QLatin1String("    ");
                } else if (reader.qualifiedName() == QLatin1String("text:s")) {
                    line += QLatin1Char(' ');
                }
            } else if (reader.isEndElement()) {
                --depth;
                if (reader.qualifiedName() == QLatin1String("text:p") || reader.qualifiedName() == QLatin1String("text:h")) {
                    if (!line.trimmed().isEmpty())
                        lines.append(line.trimmed());
                    line.clear();
                }
            } else if (reader.isCharacters()) {
                line += reader.text();
            }
        }
        return lines.join(QLatin1Char('\n'));
    }

    void read(const QByteArray& xml)
    {
        QXmlStreamReader reader(xml);
        OpenStyle* current = nullptr;
        QString cellStyle;
        QString layout;
        QString master;
        while (!reader.atEnd() && !reader.hasError()) {
            reader.readNext();
            if (reader.isEndElement()) {
                if (reader.qualifiedName() == QLatin1String("style:style")
                    || reader.qualifiedName() == QLatin1String("style:default-style"))
                    current = nullptr;
                continue;
            }
            if (!reader.isStartElement())
                continue;
            const QStringView name = reader.qualifiedName();
            const QXmlStreamAttributes a = reader.attributes();
            if (name == QLatin1String("office:body")) {
                return;
            } else if (name == QLatin1String("style:font-face")) {
                const QString face = a.value(QLatin1String("style:name")).toString();
                QString family = a.value(QLatin1String("svg:font-family")).toString();
                family.remove(QLatin1Char('\'')).remove(QLatin1Char('"'));
                faceFamily.insert(face, family.isEmpty() ? face : family);
                fixedFaces.insert(face, a.value(QLatin1String("style:font-pitch")) == QLatin1String("fixed"));
            } else if (name == QLatin1String("style:style") || name == QLatin1String("style:default-style")) {
                const QStringView family = a.value(QLatin1String("style:family"));
                const QString styleName = name == QLatin1String("style:default-style")
                                              ? QString()
                                              : a.value(QLatin1String("style:name")).toString();
                QHash<QString, OpenStyle>* table = family == QLatin1String("paragraph") ? &paragraph
                                                   : family == QLatin1String("text")    ? &text
                                                                                        : nullptr;
                current = nullptr;
                cellStyle = family == QLatin1String("table-cell") ? styleName : QString();
                if (!table)
                    continue;
                OpenStyle style;
                style.parent = a.value(QLatin1String("style:parent-style-name")).toString();
                if (name == QLatin1String("style:style") && style.parent.isEmpty() && table == &paragraph)
                    style.parent = defaultStyleKey();
                const QString display = a.value(QLatin1String("style:display-name")).toString().toLower();
                const QString lower = styleName.toLower();
                style.quote = lower == QLatin1String("quotations") || lower == QLatin1String("quote")
                    || display == QLatin1String("quotations") || display == QLatin1String("quote")
                    || display == QLatin1String("block quotation");
                const QString key = styleName.isEmpty() ? defaultStyleKey() : styleName;
                current = &table->insert(key, style).value();
            } else if (name == QLatin1String("style:table-cell-properties") && !cellStyle.isEmpty()) {
                const QColor colour(a.value(QLatin1String("fo:background-color")).toString());
                if (colour.isValid() && colour.alpha() > 0 && colour != QColor(Qt::white))
                    cellBackgrounds.insert(cellStyle, colour);
                cellStyle.clear();
            } else if (name == QLatin1String("style:text-properties") && current) {
                readText(a, *current);
            } else if (name == QLatin1String("style:paragraph-properties") && current) {
                const QStringView align = a.value(QLatin1String("fo:text-align"));
                if (align == QLatin1String("center"))
                    current->alignment = Qt::AlignHCenter;
                else if (align == QLatin1String("end") || align == QLatin1String("right"))
                    current->alignment = Qt::AlignRight;
                else if (align == QLatin1String("justify"))
                    current->alignment = Qt::AlignJustify;
                else if (!align.isEmpty())
                    current->alignment = Qt::Alignment();
            } else if (name == QLatin1String("style:page-layout")) {
                layout = a.value(QLatin1String("style:name")).toString();
            } else if (name == QLatin1String("style:page-layout-properties") && !layout.isEmpty()) {
                const auto width = lengthInPoints(a.value(QLatin1String("fo:page-width")));
                const auto height = lengthInPoints(a.value(QLatin1String("fo:page-height")));
                if (width && height && *width > 0 && *height > 0)
                    layouts.insert(layout, QSizeF(*width, *height));
                layoutLandscape.insert(layout, a.value(QLatin1String("style:print-orientation")) == QLatin1String("landscape")
                                                   || (width && height && *width > *height));
                layoutMargins.insert(layout, QMarginsF(lengthInPoints(a.value(QLatin1String("fo:margin-left"))).value_or(0),
                                                       lengthInPoints(a.value(QLatin1String("fo:margin-top"))).value_or(0),
                                                       lengthInPoints(a.value(QLatin1String("fo:margin-right"))).value_or(0),
                                                       lengthInPoints(a.value(QLatin1String("fo:margin-bottom"))).value_or(0)));
            } else if (name == QLatin1String("style:master-page")) {
                master = a.value(QLatin1String("style:name")).toString();
                const QString pageLayout = a.value(QLatin1String("style:page-layout-name")).toString();
                masterLayouts.insert(master, pageLayout);
                if (firstMasterLayout.isEmpty()) {
                    firstMasterLayout = pageLayout;
                    firstMaster = master;
                }
            } else if ((name == QLatin1String("style:header") || name == QLatin1String("style:footer")) && !master.isEmpty()) {
                const bool header = name == QLatin1String("style:header");
                const bool shown = a.value(QLatin1String("style:display")) != QLatin1String("false");
                const QString text = runningText(reader);
                if (shown)
                    (header ? masterHeaders : masterFooters).insert(master, text);
            }
        }
    }

    void readText(const QXmlStreamAttributes& a, OpenStyle& style) const
    {
        const QStringView size = a.value(QLatin1String("fo:font-size"));
        if (size.endsWith(QLatin1Char('%'))) {
            bool ok = false;
            const double percent = size.chopped(1).toDouble(&ok);
            if (ok && percent > 0)
                style.sizePercent = percent;
        } else if (const auto points = lengthInPoints(size); points && *points > 0 && *points < 1700) {
            style.chars.pointSize = *points;
        }
        const QStringView weight = a.value(QLatin1String("fo:font-weight"));
        if (!weight.isEmpty())
            style.chars.bold = weight == QLatin1String("bold") || weight.toInt() >= 600;
        const QStringView slant = a.value(QLatin1String("fo:font-style"));
        if (!slant.isEmpty())
            style.chars.italic = slant == QLatin1String("italic") || slant == QLatin1String("oblique");
        const QStringView underline = a.value(QLatin1String("style:text-underline-style"));
        if (!underline.isEmpty())
            style.chars.underline = underline != QLatin1String("none");
        const QStringView strike = a.value(QLatin1String("style:text-line-through-style"));
        if (!strike.isEmpty())
            style.chars.strike = strike != QLatin1String("none");
        const QStringView position = a.value(QLatin1String("style:text-position"));
        if (!position.isEmpty()) {
            const QString first = position.toString().split(QLatin1Char(' ')).value(0);
            if (first == QLatin1String("super"))
                style.chars.script = 1;
            else if (first == QLatin1String("sub"))
                style.chars.script = -1;
            else if (first.endsWith(QLatin1Char('%')))
                style.chars.script = first.startsWith(QLatin1Char('-')) ? -1 : (first == QLatin1String("0%") ? 0 : 1);
        }
        const QStringView colour = a.value(QLatin1String("fo:color"));
        if (QColor parsed(colour.toString()); !colour.isEmpty() && parsed.isValid())
            style.chars.colour = parsed;
        const QString face = a.value(QLatin1String("style:font-name")).toString();
        if (!face.isEmpty())
            style.chars.font = face;
    }

    // A style's look over its parents'. A font name is given as its family, "monospace" when
    // the face is declared fixed.
    SourceCharStyle chars(const QHash<QString, OpenStyle>& table, const QString& name, double baseSize = 12) const
    {
        QList<const OpenStyle*> chain;
        QString at = name.isEmpty() ? defaultStyleKey() : name;
        for (int depth = 0; depth < 20; ++depth) {
            const auto it = table.constFind(at);
            if (it == table.constEnd())
                break;
            chain.prepend(&*it);
            if (it->parent.isEmpty() || it->parent == at)
                break;
            at = it->parent;
        }
        SourceCharStyle style;
        double size = baseSize;
        for (const OpenStyle* s : chain) {
            style.inherit(s->chars);
            if (s->chars.pointSize)
                size = *s->chars.pointSize;
            if (s->sizePercent) {
                size = size * *s->sizePercent / 100;
                style.pointSize = size;
            }
        }
        if (style.font) {
            if (fixedFaces.value(*style.font))
                style.font = QStringLiteral("monospace");
            else
                style.font = faceFamily.value(*style.font, *style.font);
        }
        return style;
    }

    template<typename T>
    T paragraphValue(const QString& name, T OpenStyle::*field) const
    {
        QString at = name;
        for (int depth = 0; depth < 20 && !at.isEmpty(); ++depth) {
            const auto it = paragraph.constFind(at);
            if (it == paragraph.constEnd())
                break;
            if ((*it).*field)
                return (*it).*field;
            at = it->parent;
        }
        return {};
    }
};

} // namespace

SourceStyles OpenDocumentStyleReader::read(const QByteArray& contentXml, const QByteArray& stylesXml)
{
    Styles styles;
    styles.read(stylesXml);
    styles.read(contentXml);
    SourceStyles result;
    // The page of the standard master page, else of the first one.
    QString layout = styles.masterLayouts.value(QStringLiteral("Standard"), styles.firstMasterLayout);
    const QString master = styles.masterLayouts.contains(QStringLiteral("Standard")) ? QStringLiteral("Standard")
                                                                                    : styles.firstMaster;
    result.header = styles.masterHeaders.value(master);
    result.footer = styles.masterFooters.value(master);
    if (styles.layouts.contains(layout)) {
        result.pageSize = styles.layouts.value(layout);
        result.margins = styles.layoutMargins.value(layout);
        result.landscape = styles.layoutLandscape.value(layout);
    }

    QXmlStreamReader reader(contentXml);
    struct Open {
        SourceParagraph paragraph;
        SourceCharStyle base;
        QList<SourceCharStyle> spans; // the innermost last
    };
    QList<Open> open;
    QList<std::optional<QColor>> cellFills; // of the cells being read, the innermost last
    int notes = 0;
    bool inBody = false;
    const auto current = [&]() -> const SourceCharStyle& {
        return open.last().spans.isEmpty() ? open.last().base : open.last().spans.last();
    };
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();
        const QStringView name = reader.qualifiedName();
        if (reader.isStartElement()) {
            if (name == QLatin1String("office:body")) {
                inBody = true;
            } else if (!inBody) {
                continue;
            } else if (name == QLatin1String("table:table-cell") || name == QLatin1String("table:covered-table-cell")) {
                const QString cell = reader.attributes().value(QLatin1String("table:style-name")).toString();
                cellFills.append(styles.cellBackgrounds.contains(cell) ? std::optional<QColor>(styles.cellBackgrounds.value(cell))
                                                                       : std::nullopt);
            } else if (name == QLatin1String("text:p") || name == QLatin1String("text:h")) {
                const QString styleName = reader.attributes().value(QLatin1String("text:style-name")).toString();
                Open paragraph;
                paragraph.base = styles.chars(styles.paragraph, styleName);
                const std::optional<Qt::Alignment> alignment = styles.paragraphValue(styleName, &OpenStyle::alignment);
                paragraph.paragraph.alignment = alignment.value_or(Qt::Alignment());
                paragraph.paragraph.quote = styles.paragraphValue(styleName, &OpenStyle::quote);
                open.append(paragraph);
            } else if (open.isEmpty()) {
                continue;
            } else if (name == QLatin1String("text:span")) {
                const QString styleName = reader.attributes().value(QLatin1String("text:style-name")).toString();
                SourceCharStyle style = current();
                SourceCharStyle own = styles.chars(styles.text, styleName, current().pointSize.value_or(12));
                style.inherit(own);
                open.last().spans.append(style);
            } else if (name == QLatin1String("text:s")) {
                const int count = std::clamp(reader.attributes().value(QLatin1String("text:c")).toInt(), 1, 1000);
                open.last().paragraph.append(QString(count, QLatin1Char(' ')), current());
            } else if (name == QLatin1String("text:tab")) {
                open.last().paragraph.append(QStringLiteral("\t"), current());
            } else if (name == QLatin1String("text:line-break")) {
                open.last().paragraph.append(QStringLiteral("\n"), current());
            } else if (name == QLatin1String("text:note")) {
                // pandoc numbers the notes in the text and puts their bodies at the end.
                open.last().paragraph.append(QString::number(++notes), {});
                reader.skipCurrentElement();
            } else if (name == QLatin1String("text:tracked-changes") || name == QLatin1String("office:annotation")) {
                reader.skipCurrentElement();
            }
        } else if (reader.isEndElement()) {
            if ((name == QLatin1String("table:table-cell") || name == QLatin1String("table:covered-table-cell"))
                && !cellFills.isEmpty())
                cellFills.removeLast();
            if (open.isEmpty())
                continue;
            if (name == QLatin1String("text:span")) {
                if (!open.last().spans.isEmpty())
                    open.last().spans.removeLast();
            } else if (name == QLatin1String("text:p") || name == QLatin1String("text:h")) {
                SourceParagraph done = open.takeLast().paragraph;
                if (!cellFills.isEmpty())
                    done.cellBackground = cellFills.last();
                result.paragraphs.append(std::move(done));
            }
        } else if (reader.isCharacters() && !open.isEmpty()) {
            open.last().paragraph.append(reader.text().toString(), current());
        }
    }
    return result;
}

} // namespace qv

#include "documents/styles/WordStyleReader.h"

#include <QHash>
#include <QXmlStreamReader>

namespace qv {
namespace {

struct WordStyle {
    QString basedOn;
    SourceCharStyle chars;
    std::optional<Qt::Alignment> alignment;
    bool quote = false;
};

std::optional<bool> toggle(const QXmlStreamAttributes& attributes)
{
    const QStringView value = attributes.value(QLatin1String("w:val"));
    if (value.isEmpty())
        return true;
    return !(value == QLatin1String("0") || value == QLatin1String("false") || value == QLatin1String("off")
             || value == QLatin1String("none"));
}

std::optional<Qt::Alignment> alignmentOf(QStringView value)
{
    if (value == QLatin1String("center"))
        return Qt::AlignHCenter;
    if (value == QLatin1String("right") || value == QLatin1String("end"))
        return Qt::AlignRight;
    if (value == QLatin1String("both") || value == QLatin1String("distribute"))
        return Qt::AlignJustify;
    if (value == QLatin1String("left") || value == QLatin1String("start"))
        return Qt::Alignment();
    return std::nullopt;
}

// One property element of a w:rPr into style.
void readRunProperty(QXmlStreamReader& reader, SourceCharStyle& style, QString* charStyle)
{
    const QStringView name = reader.qualifiedName();
    const QXmlStreamAttributes attributes = reader.attributes();
    const QStringView value = attributes.value(QLatin1String("w:val"));
    if (name == QLatin1String("w:sz")) {
        bool ok = false;
        const double half = value.toDouble(&ok);
        if (ok && half >= 2 && half <= 3276)
            style.pointSize = half / 2;
    } else if (name == QLatin1String("w:b")) {
        style.bold = toggle(attributes);
    } else if (name == QLatin1String("w:i")) {
        style.italic = toggle(attributes);
    } else if (name == QLatin1String("w:u")) {
        style.underline = toggle(attributes);
    } else if (name == QLatin1String("w:strike") || name == QLatin1String("w:dstrike")) {
        style.strike = toggle(attributes);
    } else if (name == QLatin1String("w:vertAlign")) {
        style.script = value == QLatin1String("superscript") ? 1 : value == QLatin1String("subscript") ? -1 : 0;
    } else if (name == QLatin1String("w:color")) {
        const QColor colour(QLatin1Char('#') + value.toString());
        if (value != QLatin1String("auto") && colour.isValid())
            style.colour = colour;
    } else if (name == QLatin1String("w:rFonts")) {
        const QString ascii = attributes.value(QLatin1String("w:ascii")).toString();
        const QString other = attributes.value(QLatin1String("w:hAnsi")).toString();
        if (!ascii.isEmpty())
            style.font = ascii;
        else if (!other.isEmpty())
            style.font = other;
    } else if (name == QLatin1String("w:rStyle") && charStyle) {
        *charStyle = value.toString();
    }
}

// The children of the element the reader stands on, read as run properties.
void readRunProperties(QXmlStreamReader& reader, SourceCharStyle& style, QString* charStyle = nullptr)
{
    while (reader.readNextStartElement()) {
        readRunProperty(reader, style, charStyle);
        reader.skipCurrentElement();
    }
}

class StyleTable {
public:
    explicit StyleTable(const QByteArray& xml)
    {
        QXmlStreamReader reader(xml);
        QString current;
        while (!reader.atEnd() && !reader.hasError()) {
            reader.readNext();
            if (!reader.isStartElement())
                continue;
            const QStringView name = reader.qualifiedName();
            if (name == QLatin1String("w:rPrDefault")) {
                while (reader.readNextStartElement()) {
                    if (reader.qualifiedName() == QLatin1String("w:rPr"))
                        readRunProperties(reader, m_defaults);
                    else
                        reader.skipCurrentElement();
                }
            } else if (name == QLatin1String("w:style")) {
                const QXmlStreamAttributes attributes = reader.attributes();
                current = attributes.value(QLatin1String("w:styleId")).toString();
                const QStringView isDefault = attributes.value(QLatin1String("w:default"));
                if (attributes.value(QLatin1String("w:type")) == QLatin1String("paragraph")
                    && (isDefault == QLatin1String("1") || isDefault == QLatin1String("true")))
                    m_defaultParagraph = current;
                m_styles.insert(current, {});
            } else if (current.isEmpty()) {
                continue;
            } else if (name == QLatin1String("w:tblStylePr")) {
                reader.skipCurrentElement();
            } else if (name == QLatin1String("w:name")) {
                const QString styleName = reader.attributes().value(QLatin1String("w:val")).toString().toLower();
                m_styles[current].quote = styleName == QLatin1String("quote") || styleName == QLatin1String("intense quote")
                    || styleName == QLatin1String("block text");
            } else if (name == QLatin1String("w:basedOn")) {
                m_styles[current].basedOn = reader.attributes().value(QLatin1String("w:val")).toString();
            } else if (name == QLatin1String("w:jc")) {
                m_styles[current].alignment = alignmentOf(reader.attributes().value(QLatin1String("w:val")));
            } else if (name == QLatin1String("w:rPr")) {
                readRunProperties(reader, m_styles[current].chars);
            }
        }
    }

    const SourceCharStyle& defaults() const { return m_defaults; }
    const QString& defaultParagraph() const { return m_defaultParagraph; }

    // The style's run properties over those of the styles it is based on.
    SourceCharStyle chars(const QString& id) const
    {
        SourceCharStyle style;
        for (const WordStyle* s : chain(id))
            style.inherit(s->chars);
        return style;
    }

    std::optional<Qt::Alignment> alignment(const QString& id) const
    {
        std::optional<Qt::Alignment> alignment;
        for (const WordStyle* s : chain(id)) {
            if (s->alignment)
                alignment = s->alignment;
        }
        return alignment;
    }

    bool quote(const QString& id) const
    {
        for (const WordStyle* s : chain(id)) {
            if (s->quote)
                return true;
        }
        return false;
    }

private:
    // The base first, the style itself last.
    QList<const WordStyle*> chain(QString id) const
    {
        QList<const WordStyle*> styles;
        for (int depth = 0; depth < 20 && !id.isEmpty(); ++depth) {
            const auto it = m_styles.constFind(id);
            if (it == m_styles.constEnd())
                break;
            styles.prepend(&*it);
            id = it->basedOn;
        }
        return styles;
    }

    SourceCharStyle m_defaults;
    QString m_defaultParagraph;
    QHash<QString, WordStyle> m_styles;
};

double twips(QStringView value)
{
    return value.toDouble() / 20;
}

// The page of a w:sectPr; the reader ends on its end.
void readSection(QXmlStreamReader& reader, SourceStyles& result)
{
    while (reader.readNextStartElement()) {
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.qualifiedName() == QLatin1String("w:pgSz")) {
            const double width = twips(attributes.value(QLatin1String("w:w")));
            const double height = twips(attributes.value(QLatin1String("w:h")));
            if (width > 0 && height > 0)
                result.pageSize = QSizeF(width, height);
            result.landscape = attributes.value(QLatin1String("w:orient")) == QLatin1String("landscape")
                || (width > height && height > 0);
        } else if (reader.qualifiedName() == QLatin1String("w:headerReference")
                   || reader.qualifiedName() == QLatin1String("w:footerReference")) {
            if (attributes.value(QLatin1String("w:type")) == QLatin1String("default")) {
                const QString id = attributes.value(QLatin1String("r:id")).toString();
                (reader.qualifiedName() == QLatin1String("w:headerReference") ? result.headerPart : result.footerPart) = id;
            }
        } else if (reader.qualifiedName() == QLatin1String("w:pgMar")) {
            result.margins = QMarginsF(twips(attributes.value(QLatin1String("w:left"))),
                                       twips(attributes.value(QLatin1String("w:top"))),
                                       twips(attributes.value(QLatin1String("w:right"))),
                                       twips(attributes.value(QLatin1String("w:bottom"))));
        }
        reader.skipCurrentElement();
    }
}

} // namespace

QHash<QString, QString> WordStyleReader::relationTargets(const QByteArray& relsXml)
{
    QHash<QString, QString> targets;
    QXmlStreamReader reader(relsXml);
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("Relationship"))
            targets.insert(reader.attributes().value(QLatin1String("Id")).toString(),
                           reader.attributes().value(QLatin1String("Target")).toString());
    }
    return targets;
}

QString WordStyleReader::runningText(const QByteArray& partXml)
{
    QStringList lines;
    QString line;
    QString instruction;
    int fieldDepth = 0;
    bool inResult = false;
    bool replaced = false; // the current field's result is a mark
    const auto fieldMark = [](const QString& instr) -> QString {
        const QString word = instr.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
        if (word == QLatin1String("PAGE"))
            return QString(QChar(SourceStyles::pageNumberMark));
        if (word == QLatin1String("NUMPAGES"))
            return QString(QChar(SourceStyles::pageCountMark));
        return {};
    };
    QXmlStreamReader reader(partXml);
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();
        const QStringView name = reader.qualifiedName();
        if (reader.isStartElement()) {
            if (name == QLatin1String("w:fldSimple")) {
                const QString mark = fieldMark(reader.attributes().value(QLatin1String("w:instr")).toString());
                if (!mark.isEmpty()) {
                    line += mark;
                    reader.skipCurrentElement();
                }
            } else if (name == QLatin1String("w:fldChar")) {
                const QStringView type = reader.attributes().value(QLatin1String("w:fldCharType"));
                if (type == QLatin1String("begin")) {
                    if (++fieldDepth == 1) {
                        instruction.clear();
                        inResult = false;
                        replaced = false;
                    }
                } else if (type == QLatin1String("separate") && fieldDepth == 1) {
                    inResult = true;
                    const QString mark = fieldMark(instruction);
                    if (!mark.isEmpty()) {
                        line += mark;
                        replaced = true;
                    }
                } else if (type == QLatin1String("end") && fieldDepth > 0) {
                    --fieldDepth;
                }
            } else if (name == QLatin1String("w:instrText")) {
                instruction += reader.readElementText();
            } else if (name == QLatin1String("w:t")) {
                const QString text = reader.readElementText();
                if (fieldDepth == 0 || (inResult && !replaced))
                    line += text;
            } else if (name == QLatin1String("w:tab")) {
                line += QLatin1String("    ");
            } else if (name == QLatin1String("w:del") || name == QLatin1String("mc:Fallback")) {
                reader.skipCurrentElement();
            }
        } else if (reader.isEndElement() && name == QLatin1String("w:p")) {
            if (!line.trimmed().isEmpty())
                lines.append(line.trimmed());
            line.clear();
        }
    }
    return lines.join(QLatin1Char('\n'));
}

SourceStyles WordStyleReader::read(const QByteArray& documentXml, const QByteArray& stylesXml)
{
    const StyleTable styles(stylesXml);
    SourceStyles result;
    QXmlStreamReader reader(documentXml);

    // Paragraphs inside paragraphs (text boxes) are kept apart.
    struct Open {
        SourceParagraph paragraph;
        QString style;
        std::optional<Qt::Alignment> alignment;
    };
    QList<Open> open;
    SourceCharStyle run;
    bool inRun = false;
    int notes = 0;
    bool sectionSeen = false;

    const auto paragraphStyle = [&]() -> QString {
        return open.last().style.isEmpty() ? styles.defaultParagraph() : open.last().style;
    };
    const auto runStyle = [&](const SourceCharStyle& direct, const QString& charStyle) {
        SourceCharStyle style = styles.defaults();
        style.inherit(styles.chars(paragraphStyle()));
        style.inherit(styles.chars(charStyle));
        style.inherit(direct);
        return style;
    };

    QString charStyle;
    QList<std::optional<QColor>> cellFills; // of the cells being read, the innermost last
    bool inCellProperties = false;
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();
        const QStringView name = reader.qualifiedName();
        if (reader.isStartElement()) {
            if (name == QLatin1String("w:tc")) {
                cellFills.append(std::nullopt);
            } else if (name == QLatin1String("w:tcPr")) {
                inCellProperties = true;
            } else if (name == QLatin1String("w:shd") && inCellProperties && !cellFills.isEmpty()) {
                const QString fill = reader.attributes().value(QLatin1String("w:fill")).toString();
                const QColor colour(QLatin1Char('#') + fill);
                if (fill.size() == 6 && colour.isValid() && colour != QColor(Qt::white))
                    cellFills.last() = colour;
            }
            if (name == QLatin1String("w:p")) {
                open.append(Open{});
            } else if (name == QLatin1String("w:del") || name == QLatin1String("w:instrText")
                       || name == QLatin1String("mc:Fallback") || name == QLatin1String("w:delText")) {
                reader.skipCurrentElement();
            } else if (name == QLatin1String("w:sectPr")) {
                // The first section's page is the document's.
                if (!std::exchange(sectionSeen, true))
                    readSection(reader, result);
                else
                    reader.skipCurrentElement();
            } else if (open.isEmpty()) {
                continue;
            } else if (name == QLatin1String("w:pPr")) {
                while (reader.readNextStartElement()) {
                    const QStringView property = reader.qualifiedName();
                    if (property == QLatin1String("w:pStyle"))
                        open.last().style = reader.attributes().value(QLatin1String("w:val")).toString();
                    else if (property == QLatin1String("w:jc"))
                        open.last().alignment = alignmentOf(reader.attributes().value(QLatin1String("w:val")));
                    if (property == QLatin1String("w:sectPr") && !std::exchange(sectionSeen, true))
                        readSection(reader, result);
                    else
                        reader.skipCurrentElement();
                }
            } else if (name == QLatin1String("w:r")) {
                inRun = true;
                run = {};
                charStyle.clear();
            } else if (name == QLatin1String("w:rPr") && inRun) {
                readRunProperties(reader, run, &charStyle);
            } else if (!inRun) {
                continue;
            } else if (name == QLatin1String("w:t")) {
                open.last().paragraph.append(reader.readElementText(QXmlStreamReader::IncludeChildElements),
                                             runStyle(run, charStyle));
            } else if (name == QLatin1String("w:tab")) {
                open.last().paragraph.append(QStringLiteral("\t"), runStyle(run, charStyle));
            } else if (name == QLatin1String("w:br") || name == QLatin1String("w:cr")) {
                open.last().paragraph.append(QStringLiteral("\n"), runStyle(run, charStyle));
            } else if (name == QLatin1String("w:footnoteReference") || name == QLatin1String("w:endnoteReference")) {
                // pandoc numbers the notes in the text.
                open.last().paragraph.append(QString::number(++notes), {});
            }
        } else if (reader.isEndElement()) {
            if (name == QLatin1String("w:tc") && !cellFills.isEmpty()) {
                cellFills.removeLast();
            } else if (name == QLatin1String("w:tcPr")) {
                inCellProperties = false;
            } else if (name == QLatin1String("w:r")) {
                inRun = false;
            } else if (name == QLatin1String("w:p") && !open.isEmpty()) {
                Open done = open.takeLast();
                const QString style = done.style.isEmpty() ? styles.defaultParagraph() : done.style;
                const std::optional<Qt::Alignment> alignment = done.alignment ? done.alignment : styles.alignment(style);
                done.paragraph.alignment = alignment.value_or(Qt::Alignment());
                done.paragraph.quote = styles.quote(style);
                if (!cellFills.isEmpty())
                    done.paragraph.cellBackground = cellFills.last();
                result.paragraphs.append(std::move(done.paragraph));
            }
        }
    }
    return result;
}

} // namespace qv

#include "documents/styles/RtfStyleReader.h"

#include "documents/readers/RtfDecoder.h"

#include <QHash>
#include <QSet>

namespace qv {
namespace {

struct CharState {
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    int script = 0;
    int font = -1;
    int colour = 0;
};

struct ParagraphState {
    Qt::Alignment alignment;
    int style = 0;
    int outline = -1;
};

enum class Destination { text, skip, info, fontTable, colourTable, styleSheet, title, running, fieldInstruction };

enum class Running { header, footer, firstHeader, firstFooter };

struct Group {
    CharState chars;
    ParagraphState paragraph;
    Destination destination = Destination::text;
    Running running = Running::header; // which one a running destination writes
    bool fieldResult = false;          // in a field's shown result
};

bool isLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// Destinations whose text is no text of the document (or comes back elsewhere).
const QSet<QString>& skippedDestinations()
{
    static const QSet<QString> names{
        QStringLiteral("pict"),      QStringLiteral("footnote"),  QStringLiteral("annotation"),  QStringLiteral("nonshppict"),
        QStringLiteral("listtable"), QStringLiteral("listoverridetable"), QStringLiteral("listtext"),
        QStringLiteral("pntext"),    QStringLiteral("pntxta"),      QStringLiteral("pntxtb"),
        QStringLiteral("fldinst"),   QStringLiteral("shprslt"),     QStringLiteral("object"),
        QStringLiteral("revtbl"),    QStringLiteral("filetbl"),     QStringLiteral("rsidtbl"),
        QStringLiteral("author"),    QStringLiteral("operator"),    QStringLiteral("subject"),
        QStringLiteral("keywords"),  QStringLiteral("comment"),     QStringLiteral("doccomm"),
        QStringLiteral("company"),   QStringLiteral("creatim"),     QStringLiteral("revtim"),
        QStringLiteral("printim"),   QStringLiteral("buptim"),      QStringLiteral("xe"),
        QStringLiteral("tc"),        QStringLiteral("txe"),         QStringLiteral("bkmkstart"),
        QStringLiteral("bkmkend"),   QStringLiteral("atnid"),       QStringLiteral("atnauthor")};
    return names;
}

QChar symbolOf(const QString& word)
{
    static const QHash<QString, char16_t> symbols{
        {QStringLiteral("emdash"), 0x2014},    {QStringLiteral("endash"), 0x2013},   {QStringLiteral("bullet"), 0x2022},
        {QStringLiteral("lquote"), 0x2018},    {QStringLiteral("rquote"), 0x2019},   {QStringLiteral("ldblquote"), 0x201C},
        {QStringLiteral("rdblquote"), 0x201D}, {QStringLiteral("emspace"), 0x2003},  {QStringLiteral("enspace"), 0x2002},
        {QStringLiteral("qmspace"), 0x2005},   {QStringLiteral("tab"), u'\t'},       {QStringLiteral("line"), u'\n'}};
    return QChar(symbols.value(word, 0));
}

class Parser {
public:
    explicit Parser(const QString& rtf) : m_in(rtf) { m_groups.append(Group{}); }

    SourceStyles run()
    {
        while (m_at < m_in.size()) {
            const QChar c = m_in[m_at];
            if (c == QLatin1Char('{')) {
                ++m_at;
                if (m_groups.size() > 4096)
                    break;
                m_groups.append(m_groups.last());
                m_groupStart = true;
                continue;
            }
            if (c == QLatin1Char('}')) {
                ++m_at;
                endGroup();
                continue;
            }
            if (c == QLatin1Char('\\')) {
                // "{\*\word": the word still opens the group.
                m_afterStar = std::exchange(m_starred, false);
                control();
                m_groupStart = m_starred;
                continue;
            }
            m_groupStart = false;
            ++m_at;
            if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
                continue;
            text(c);
        }
        if (!m_paragraph.text.isEmpty())
            endParagraph();
        if (m_paperWidth > 0 && m_paperHeight > 0) {
            m_result.pageSize = QSizeF(m_paperWidth / 20.0, m_paperHeight / 20.0);
            m_result.margins = QMarginsF(m_margins[0] / 20.0, m_margins[1] / 20.0, m_margins[2] / 20.0, m_margins[3] / 20.0);
        }
        m_result.landscape = m_landscape || (m_paperWidth > m_paperHeight && m_paperHeight > 0);
        // One running head and foot serve every page: those of all pages before a first page's own.
        for (int kind = 0; kind < 4; ++kind) {
            QStringList lines = m_running[kind].split(QLatin1Char('\n'));
            for (QString& line : lines)
                line = line.simplified();
            lines.removeAll(QString());
            m_running[kind] = lines.join(QLatin1Char('\n'));
        }
        m_result.header = m_running[int(Running::header)].isEmpty() ? m_running[int(Running::firstHeader)]
                                                                     : m_running[int(Running::header)];
        m_result.footer = m_running[int(Running::footer)].isEmpty() ? m_running[int(Running::firstFooter)]
                                                                     : m_running[int(Running::footer)];
        return std::move(m_result);
    }

    std::optional<QString> title() const
    {
        const QString simplified = m_title.simplified();
        return simplified.isEmpty() ? std::nullopt : std::optional<QString>(simplified);
    }

private:
    Group& group() { return m_groups.last(); }

    void endGroup()
    {
        const Group closing = m_groups.last();
        if (m_groups.size() > 1)
            m_groups.removeLast();
        if (closing.destination == Destination::styleSheet && group().destination == Destination::styleSheet) {
            // One style's entry ends: its name is what it wrote.
            finishStyle(closing);
        }
    }

    void finishStyle(const Group& entry)
    {
        QString name = m_styleName.trimmed();
        if (name.endsWith(QLatin1Char(';')))
            name.chop(1);
        name = name.trimmed().toLower();
        int level = entry.paragraph.outline >= 0 && entry.paragraph.outline < 6 ? entry.paragraph.outline + 1 : 0;
        if (name.startsWith(QLatin1String("heading ")))
            level = std::clamp(name.mid(8).toInt(), 0, 6);
        if (level > 0)
            m_headingStyles.insert(entry.paragraph.style, level);
        m_styleName.clear();
    }

    void text(QChar c)
    {
        switch (group().destination) {
        case Destination::text:
            m_paragraph.append(QString(c), style());
            return;
        case Destination::fontTable:
            m_fontName += c;
            if (c == QLatin1Char(';')) {
                QString name = m_fontName.chopped(1).trimmed();
                m_fonts.insert(m_definingFont, {name, m_fixed || m_fonts.value(m_definingFont).second});
                m_fontName.clear();
                m_fixed = false;
            }
            return;
        case Destination::colourTable:
            if (c == QLatin1Char(';')) {
                m_colours.append(m_colourSet ? std::optional<QColor>(m_colour) : std::nullopt);
                m_colour = QColor(0, 0, 0);
                m_colourSet = false;
            }
            return;
        case Destination::styleSheet:
            m_styleName += c;
            return;
        case Destination::title:
            m_title += c;
            return;
        case Destination::running:
            m_running[int(group().running)] += c;
            return;
        case Destination::fieldInstruction:
            m_fieldInstruction += c;
            return;
        case Destination::skip:
        case Destination::info:
            return;
        }
    }

    SourceCharStyle style() const
    {
        const CharState& s = m_groups.last().chars;
        SourceCharStyle style;
        style.pointSize = s.halfPoints / 2.0;
        style.bold = s.bold;
        style.italic = s.italic;
        style.underline = s.underline;
        style.strike = s.strike;
        style.script = s.script;
        if (s.colour > 0 && s.colour < m_colours.size() && m_colours[s.colour])
            style.colour = m_colours[s.colour];
        const int font = s.font >= 0 ? s.font : m_defaultFont;
        if (const auto it = m_fonts.constFind(font); it != m_fonts.constEnd())
            style.font = it->second ? QStringLiteral("monospace") : it->first;
        return style;
    }

    void endParagraph()
    {
        const ParagraphState& p = group().paragraph;
        m_paragraph.alignment = p.alignment;
        m_paragraph.headingLevel = m_headingStyles.value(p.style, 0);
        if (p.outline >= 0 && p.outline < 6)
            m_paragraph.headingLevel = p.outline + 1;
        m_result.paragraphs.append(std::move(m_paragraph));
        m_paragraph = {};
    }

    void control()
    {
        ++m_at;
        if (m_at >= m_in.size())
            return;
        const QChar next = m_in[m_at];
        if (!isLetter(next)) {
            ++m_at;
            if (next == QLatin1Char('*')) {
                if (m_groupStart) {
                    m_starredDestination = group().destination;
                    group().destination = Destination::skip;
                    m_starred = true;
                }
            } else if (next == QLatin1Char('\'')) {
                const QString hex = m_in.mid(m_at, 2);
                m_at += 2;
                bool ok = false;
                const int value = hex.toInt(&ok, 16);
                if (ok)
                    text(QChar(value));
            } else if (next == QLatin1Char('~')) {
                text(QChar(0x00A0));
            } else if (next == QLatin1Char('_')) {
                text(QChar(0x2011));
            } else if (next == QLatin1Char('\r') || next == QLatin1Char('\n')) {
                if (group().destination == Destination::text)
                    endParagraph();
                else if (group().destination == Destination::running)
                    text(QLatin1Char('\n'));
            } else if (next != QLatin1Char('-') && next != QLatin1Char(':') && next != QLatin1Char('|')) {
                text(next);
            }
            return;
        }
        const qsizetype start = m_at;
        while (m_at < m_in.size() && isLetter(m_in[m_at]) && m_at - start < 32)
            ++m_at;
        const QString word = m_in.mid(start, m_at - start);
        const qsizetype numberStart = m_at;
        if (m_at < m_in.size() && m_in[m_at] == QLatin1Char('-'))
            ++m_at;
        while (m_at < m_in.size() && m_in[m_at].isDigit() && m_at - numberStart < 11)
            ++m_at;
        bool hasNumber = false;
        const int number = m_in.mid(numberStart, m_at - numberStart).toInt(&hasNumber);
        if (!hasNumber)
            m_at = numberStart;
        if (m_at < m_in.size() && m_in[m_at] == QLatin1Char(' '))
            ++m_at;
        apply(word, hasNumber, number);
    }

    void apply(const QString& word, bool hasNumber, int number)
    {
        Group& g = group();
        CharState& c = g.chars;
        ParagraphState& p = g.paragraph;
        const bool on = !hasNumber || number != 0;
        if (m_groupStart) {
            if (word == QLatin1String("fonttbl")) {
                g.destination = Destination::fontTable;
                return;
            }
            if (word == QLatin1String("colortbl")) {
                g.destination = Destination::colourTable;
                return;
            }
            if (word == QLatin1String("stylesheet")) {
                g.destination = Destination::styleSheet;
                return;
            }
            if (word == QLatin1String("title") && g.destination != Destination::skip) {
                g.destination = Destination::title;
                m_title.clear();
                return;
            }
            if (word == QLatin1String("info")) {
                g.destination = Destination::info;
                return;
            }
            if (const std::optional<Running> running = runningDestination(word); running && g.destination != Destination::skip) {
                // The first section's serve; a later section's are left out.
                g.destination = m_running[int(*running)].isEmpty() ? Destination::running : Destination::skip;
                g.running = *running;
                return;
            }
            // Inside a running head a page field is the page number, whatever its result says.
            if (word == QLatin1String("fldinst") && m_afterStar && m_starredDestination == Destination::running) {
                g.destination = Destination::fieldInstruction;
                m_fieldInstruction.clear();
                return;
            }
            if (word == QLatin1String("fldrslt") && g.destination == Destination::running) {
                const QString instruction = m_fieldInstruction.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
                m_fieldInstruction.clear();
                if (instruction == QLatin1String("PAGE") || instruction == QLatin1String("NUMPAGES")) {
                    m_running[int(g.running)] += QChar(instruction == QLatin1String("PAGE") ? SourceStyles::pageNumberMark
                                                                                            : SourceStyles::pageCountMark);
                    g.destination = Destination::skip;
                }
                return;
            }
            if (skippedDestinations().contains(word)) {
                g.destination = Destination::skip;
                return;
            }
        }
        if (g.destination == Destination::skip || g.destination == Destination::info)
            return;
        if (g.destination == Destination::fontTable) {
            if (word == QLatin1String("f") && hasNumber) {
                m_definingFont = number;
            } else if (word == QLatin1String("fmodern") || (word == QLatin1String("fprq") && number == 1)) {
                m_fixed = true;
            } else if (word == QLatin1String("panose") || word == QLatin1String("falt")) {
                // Their text is no font name.
                g.destination = Destination::skip;
            }
            return;
        }
        if (g.destination == Destination::colourTable) {
            if (word == QLatin1String("red")) {
                m_colour.setRed(std::clamp(number, 0, 255));
                m_colourSet = true;
            } else if (word == QLatin1String("green")) {
                m_colour.setGreen(std::clamp(number, 0, 255));
                m_colourSet = true;
            } else if (word == QLatin1String("blue")) {
                m_colour.setBlue(std::clamp(number, 0, 255));
                m_colourSet = true;
            }
            return;
        }
        if (g.destination == Destination::running || g.destination == Destination::fieldInstruction) {
            if (word == QLatin1String("par") || word == QLatin1String("line"))
                text(QLatin1Char('\n'));
            else if (word == QLatin1String("tab") || word == QLatin1String("cell"))
                text(QLatin1Char(' '));
            else if (word == QLatin1String("chpgn"))
                m_running[int(g.running)] += QChar(SourceStyles::pageNumberMark);
            else if (const QChar symbol = symbolOf(word); !symbol.isNull())
                text(symbol);
            return;
        }
        if (word == QLatin1String("par")) {
            if (g.destination == Destination::text)
                endParagraph();
        } else if (word == QLatin1String("cell") || word == QLatin1String("nestcell")) {
            if (g.destination == Destination::text && !m_paragraph.text.isEmpty())
                endParagraph();
        } else if (const QChar symbol = symbolOf(word); !symbol.isNull()) {
            text(symbol);
        } else if (word == QLatin1String("plain")) {
            c = CharState{};
        } else if (word == QLatin1String("pard")) {
            p = ParagraphState{};
        } else if (word == QLatin1String("fs") && hasNumber && number > 0 && number < 3276) {
            c.halfPoints = number;
        } else if (word == QLatin1String("b")) {
            c.bold = on;
        } else if (word == QLatin1String("i")) {
            c.italic = on;
        } else if (word == QLatin1String("ulnone")) {
            c.underline = false;
        } else if (word.startsWith(QLatin1String("ul")) && word != QLatin1String("ulc")) {
            c.underline = on;
        } else if (word == QLatin1String("strike") || word == QLatin1String("striked")) {
            c.strike = on;
        } else if (word == QLatin1String("super") || (word == QLatin1String("up") && on)) {
            c.script = 1;
        } else if (word == QLatin1String("sub") || (word == QLatin1String("dn") && on)) {
            c.script = -1;
        } else if (word == QLatin1String("nosupersub") || word == QLatin1String("up") || word == QLatin1String("dn")) {
            c.script = 0;
        } else if (word == QLatin1String("f") && hasNumber) {
            c.font = number;
        } else if (word == QLatin1String("deff") && hasNumber) {
            m_defaultFont = number;
        } else if (word == QLatin1String("cf") && hasNumber) {
            c.colour = number;
        } else if (word == QLatin1String("qc")) {
            p.alignment = Qt::AlignHCenter;
        } else if (word == QLatin1String("qr")) {
            p.alignment = Qt::AlignRight;
        } else if (word == QLatin1String("qj") || word == QLatin1String("qd")) {
            p.alignment = Qt::AlignJustify;
        } else if (word == QLatin1String("ql")) {
            p.alignment = Qt::Alignment();
        } else if (word == QLatin1String("s") && hasNumber) {
            p.style = number;
        } else if (word == QLatin1String("outlinelevel") && hasNumber) {
            p.outline = number;
        } else if (word == QLatin1String("paperw") && hasNumber) {
            m_paperWidth = number;
        } else if (word == QLatin1String("paperh") && hasNumber) {
            m_paperHeight = number;
        } else if (word == QLatin1String("margl") && hasNumber) {
            m_margins[0] = number;
        } else if (word == QLatin1String("margt") && hasNumber) {
            m_margins[1] = number;
        } else if (word == QLatin1String("margr") && hasNumber) {
            m_margins[2] = number;
        } else if (word == QLatin1String("margb") && hasNumber) {
            m_margins[3] = number;
        } else if (word == QLatin1String("landscape") || word == QLatin1String("lndscpsxn")) {
            m_landscape = true;
        } else if ((word == QLatin1String("pgwsxn") || word == QLatin1String("pghsxn")) && hasNumber && !m_sectionPage) {
            (word == QLatin1String("pgwsxn") ? m_paperWidth : m_paperHeight) = number;
        } else if (word == QLatin1String("sect")) {
            m_sectionPage = true;
        }
    }

    static std::optional<Running> runningDestination(const QString& word)
    {
        if (word == QLatin1String("header") || word == QLatin1String("headerr") || word == QLatin1String("headerl"))
            return Running::header;
        if (word == QLatin1String("footer") || word == QLatin1String("footerr") || word == QLatin1String("footerl"))
            return Running::footer;
        if (word == QLatin1String("headerf"))
            return Running::firstHeader;
        if (word == QLatin1String("footerf"))
            return Running::firstFooter;
        return std::nullopt;
    }

    QString m_in;
    qsizetype m_at = 0;
    bool m_groupStart = false;
    bool m_starred = false;                          // "\*" just opened the group
    bool m_afterStar = false;                        // the control word being read follows it
    Destination m_starredDestination = Destination::text; // where that group stands
    QString m_running[4];
    QString m_fieldInstruction;
    QList<Group> m_groups;
    SourceParagraph m_paragraph;
    SourceStyles m_result;

    QHash<int, std::pair<QString, bool>> m_fonts; // name, fixed pitch
    int m_definingFont = -1;
    int m_defaultFont = 0;
    QString m_fontName;
    bool m_fixed = false;
    QList<std::optional<QColor>> m_colours; // \cf0 first, unset for the automatic colour
    QColor m_colour{0, 0, 0};
    bool m_colourSet = false;
    QString m_styleName;
    QHash<int, int> m_headingStyles;
    QString m_title;
    int m_paperWidth = 0;
    int m_paperHeight = 0;
    int m_margins[4] = {0, 0, 0, 0};
    bool m_landscape = false;
    bool m_sectionPage = false;
};

} // namespace

SourceStyles RtfStyleReader::read(const QByteArray& decodedRtf)
{
    Parser parser(QString::fromUtf8(decodedRtf));
    SourceStyles styles = parser.run();
    styles.title = parser.title();
    return styles;
}

} // namespace qv

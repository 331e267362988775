#include "documents/subtitles/Subtitles.h"

#include "documents/readers/TextLoaders.h"
#include "documents/sheets/DecimalNumber.h"
#include "model/errors/EngineError.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace qv {

const QString noSubtitlesMessage = QStringLiteral("No subtitles were found in this file");
const QString subtitleFileTooLargeMessage = QStringLiteral("This subtitle file is too large");

namespace {

bool isSpaceOrTab(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QStringView trimmedSpacesAndTabs(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpaceOrTab(text[begin]))
        ++begin;
    while (end > begin && isSpaceOrTab(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

void sortByStart(QList<SubtitleCue>& cues)
{
    std::stable_sort(cues.begin(), cues.end(),
                     [](const SubtitleCue& a, const SubtitleCue& b) { return a.start < b.start; });
}

const QStringList& defaultASSFields()
{
    static const QStringList fields{
        QStringLiteral("Layer"),   QStringLiteral("Start"),   QStringLiteral("End"),
        QStringLiteral("Style"),   QStringLiteral("Name"),    QStringLiteral("MarginL"),
        QStringLiteral("MarginR"), QStringLiteral("MarginV"), QStringLiteral("Effect"),
        QStringLiteral("Text")};
    return fields;
}

// Splits at commas into at most count pieces; the last keeps any further commas.
QList<QStringView> splitFields(QStringView text, qsizetype count)
{
    QList<QStringView> pieces;
    qsizetype from = 0;
    while (pieces.size() + 1 < count) {
        const qsizetype comma = text.indexOf(QLatin1Char(','), from);
        if (comma < 0)
            break;
        pieces.append(text.mid(from, comma - from));
        from = comma + 1;
    }
    pieces.append(text.mid(from));
    return pieces;
}

QString assText(QStringView raw)
{
    static const QRegularExpression overrides(QStringLiteral("\\{[^}]*\\}"));
    QString text = raw.toString();
    text.remove(overrides);
    text.replace(QLatin1String("\\N"), QLatin1String("\n"));
    text.replace(QLatin1String("\\n"), QLatin1String("\n"));
    text.replace(QLatin1String("\\h"), QLatin1String(" "));
    return trimmedSpacesAndTabs(text).toString();
}

const QString& assHeader()
{
    static const QString header = QStringList{
        QStringLiteral("[Script Info]"),
        QStringLiteral("ScriptType: v4.00+"),
        QStringLiteral("PlayResX: 1920"),
        QStringLiteral("PlayResY: 1080"),
        QStringLiteral("WrapStyle: 0"),
        QString(),
        QStringLiteral("[V4+ Styles]"),
        QStringLiteral("Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
                       "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, "
                       "ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
                       "MarginR, MarginV, Encoding"),
        QStringLiteral("Style: Default,Helvetica,64,&H00FFFFFF,&H000000FF,&H00000000,&H64000000,"
                       "0,0,0,0,100,100,0,0,1,3,1,2,40,40,50,1"),
        QString(),
        QStringLiteral("[Events]"),
        QStringLiteral("Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
                       "Effect, Text")}.join(QLatin1Char('\n'));
    return header;
}

const QString& ssaHeader()
{
    static const QString header = QStringList{
        QStringLiteral("[Script Info]"),
        QStringLiteral("ScriptType: v4.00"),
        QString(),
        QStringLiteral("[V4 Styles]"),
        QStringLiteral("Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
                       "TertiaryColour, BackColour, Bold, Italic, BorderStyle, Outline, Shadow, "
                       "Alignment, MarginL, MarginR, MarginV, AlphaLevel, Encoding"),
        QStringLiteral("Style: Default,Helvetica,32,16777215,255,0,0,0,0,1,2,1,2,30,30,30,0,1"),
        QString(),
        QStringLiteral("[Events]"),
        QStringLiteral("Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, "
                       "Effect, Text")}.join(QLatin1Char('\n'));
    return header;
}

// Rounds halves away from zero; times are bounded, so the count fits.
qint64 roundedUnits(double seconds, double perSecond)
{
    double t = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    t = std::min(t, 4 * maximumSubtitleSeconds);
    return std::llround(t * perSecond);
}

} // namespace

SubtitleFormat subtitleFormat(const QString& extension)
{
    if (extension == QLatin1String("srt"))
        return SubtitleFormat::srt;
    if (extension == QLatin1String("vtt"))
        return SubtitleFormat::vtt;
    if (extension == QLatin1String("ass"))
        return SubtitleFormat::ass;
    if (extension == QLatin1String("ssa"))
        return SubtitleFormat::ssa;
    if (extension == QLatin1String("txt"))
        return SubtitleFormat::txt;
    return SubtitleFormat::unknown;
}

QString subtitleExtension(SubtitleFormat format)
{
    switch (format) {
    case SubtitleFormat::vtt: return QStringLiteral("vtt");
    case SubtitleFormat::ass: return QStringLiteral("ass");
    case SubtitleFormat::ssa: return QStringLiteral("ssa");
    case SubtitleFormat::txt: return QStringLiteral("txt");
    case SubtitleFormat::srt:
    case SubtitleFormat::unknown: break;
    }
    return QStringLiteral("srt");
}

std::optional<double> parseTimestamp(QStringView text)
{
    QString cleaned = trimmedSpacesAndTabs(text).toString();
    cleaned.replace(QLatin1Char(','), QLatin1Char('.'));
    const QList<QStringView> pieces =
        QStringView(cleaned).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (pieces.size() != 2 && pieces.size() != 3)
        return std::nullopt;
    double values[3] = {0, 0, 0};
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const auto value = parseDecimalNumber(pieces[i]);
        if (!value)
            return std::nullopt;
        values[i] = *value;
    }
    const double seconds = pieces.size() == 2
        ? values[0] * 60 + values[1]
        : (values[0] * 60 + values[1]) * 60 + values[2];
    // "nan", "inf" and "1e300" read as numbers; none of them is a time we can write or sort.
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= maximumSubtitleSeconds)
        return std::nullopt;
    return seconds;
}

QList<SubtitleCue> parseCueBlocks(const QString& text, qint64* skipped)
{
    QList<SubtitleCue> cues;
    qint64 unread = 0;
    for (const QStringView block : QStringView(text).split(u"\n\n")) {
        const QList<QStringView> lines = block.split(QLatin1Char('\n'));
        qsizetype timing = -1;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines[i].contains(QLatin1String("-->"))) {
                timing = i;
                break;
            }
        }
        if (timing < 0) {
            // Headers, notes, styles and regions are no cues; other text is a cue that lost
            // its timing line.
            const QStringView first = lines.isEmpty() ? QStringView() : trimmedSpacesAndTabs(lines.first());
            bool blank = true;
            for (const QStringView line : lines)
                blank = blank && line.trimmed().isEmpty();
            if (!blank && !first.startsWith(QLatin1String("WEBVTT")) && !first.startsWith(QLatin1String("NOTE"))
                && !first.startsWith(QLatin1String("STYLE")) && !first.startsWith(QLatin1String("REGION")))
                ++unread;
            continue;
        }
        const QList<QStringView> parts = lines[timing].split(u"-->");
        if (parts.size() != 2) {
            ++unread;
            continue;
        }
        const auto start = parseTimestamp(parts[0]);
        const QList<QStringView> endPieces =
            trimmedSpacesAndTabs(parts[1]).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const auto end = parseTimestamp(endPieces.isEmpty() ? QStringView() : endPieces.first());
        if (!start || !end) {
            ++unread;
            continue;
        }
        QStringList body;
        for (qsizetype i = timing + 1; i < lines.size(); ++i)
            body.append(lines[i].toString());
        const QString cueText = body.join(QLatin1Char('\n')).trimmed();
        if (cueText.isEmpty())
            continue;
        cues.append({*start, std::max(*start, *end), cueText});
    }
    sortByStart(cues);
    if (skipped)
        *skipped = unread;
    return cues;
}

std::optional<double> parseASSTimestamp(QStringView text)
{
    // Some editors write "0:00:04:56", a colon before the centiseconds.
    const QStringView trimmed = trimmedSpacesAndTabs(text);
    const QList<QStringView> pieces = trimmed.split(QLatin1Char(':'));
    if (pieces.size() == 4 && !pieces[3].isEmpty() && !pieces[2].contains(QLatin1Char('.'))
        && !pieces[2].contains(QLatin1Char(','))) {
        const qsizetype last = trimmed.lastIndexOf(QLatin1Char(':'));
        return parseTimestamp(trimmed.left(last).toString() + QLatin1Char('.') + pieces[3].toString());
    }
    return parseTimestamp(trimmed);
}

QList<SubtitleCue> parseASSEvents(const QString& text, qint64* skipped)
{
    QList<SubtitleCue> cues;
    qint64 unread = 0;
    QStringList fields = defaultASSFields();
    bool inEvents = false;
    for (const QStringView rawLine : QStringView(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringView line = trimmedSpacesAndTabs(rawLine);
        if (line.startsWith(QLatin1Char('['))) {
            inEvents = line.toString().toLower() == QLatin1String("[events]");
            continue;
        }
        if (!inEvents)
            continue;
        if (line.startsWith(QLatin1String("Format:"))) {
            fields.clear();
            for (const QStringView piece :
                 line.mid(7).split(QLatin1Char(','), Qt::SkipEmptyParts))
                fields.append(trimmedSpacesAndTabs(piece).toString());
            continue;
        }
        if (!line.startsWith(QLatin1String("Dialogue:")))
            continue;
        const qsizetype startAt = fields.indexOf(QLatin1String("Start"));
        const qsizetype endAt = fields.indexOf(QLatin1String("End"));
        const qsizetype textAt = fields.indexOf(QLatin1String("Text"));
        const QList<QStringView> pieces = splitFields(line.mid(9), fields.size());
        if (startAt < 0 || endAt < 0 || textAt < 0 || pieces.size() <= std::max({startAt, endAt, textAt})) {
            ++unread;
            continue;
        }
        const auto start = parseASSTimestamp(pieces[startAt]);
        const auto end = parseASSTimestamp(pieces[endAt]);
        if (!start || !end) {
            ++unread;
            continue;
        }
        const QString cueText = assText(trimmedSpacesAndTabs(pieces[textAt]));
        if (cueText.isEmpty())
            continue;
        cues.append({*start, std::max(*start, *end), cueText});
    }
    sortByStart(cues);
    if (skipped)
        *skipped = unread;
    return cues;
}

QString normalizedSubtitleText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.remove(QChar(0xFEFF));
    return text;
}

QList<SubtitleCue> parseSubtitleText(const QString& text, SubtitleFormat format, qint64* skipped)
{
    if (skipped)
        *skipped = 0;
    switch (format) {
    case SubtitleFormat::srt:
    case SubtitleFormat::vtt: return parseCueBlocks(text, skipped);
    case SubtitleFormat::ass:
    case SubtitleFormat::ssa: return parseASSEvents(text, skipped);
    case SubtitleFormat::txt:
    case SubtitleFormat::unknown: break;
    }
    return {};
}

SubtitleFormat subtitleFormatForFileName(const QString& name)
{
    QString extension = QFileInfo(name).suffix().toLower();
    if (extension == QLatin1String("webvtt"))
        extension = QStringLiteral("vtt");
    const SubtitleFormat format = subtitleFormat(extension);
    return format == SubtitleFormat::unknown ? SubtitleFormat::srt : format;
}

LoadedSubtitles loadSubtitles(const QString& path)
{
    LoadedSubtitles loaded;
    loaded.format = subtitleFormatForFileName(path);
    const TextLoaders::DecodedText decoded = TextLoaders::readTextWithDetectedEncoding(
        QUrl::fromLocalFile(path), maximumSubtitleFileBytes, subtitleFileTooLargeMessage);
    loaded.replaced = decoded.replaced;
    const QString text = normalizedSubtitleText(decoded.text);
    loaded.cues = parseSubtitleText(text, loaded.format, &loaded.skipped);
    if (loaded.cues.isEmpty())
        throw EngineError(noSubtitlesMessage);
    return loaded;
}

QList<SubtitleCue> shiftCues(const QList<SubtitleCue>& cues, qint64 milliseconds)
{
    const double offset = double(milliseconds) / 1000;
    QList<SubtitleCue> shifted;
    shifted.reserve(cues.size());
    for (const SubtitleCue& cue : cues) {
        const double end = cue.end + offset;
        if (end <= 0)
            continue;
        shifted.append({std::max(0.0, cue.start + offset), end, cue.text});
    }
    return shifted;
}

QList<SubtitleCue> mergeCues(const QList<QList<SubtitleCue>>& lists)
{
    QList<SubtitleCue> merged;
    for (const QList<SubtitleCue>& list : lists)
        merged += list;
    std::stable_sort(merged.begin(), merged.end(), [](const SubtitleCue& a, const SubtitleCue& b) {
        return a.start < b.start || (a.start == b.start && a.end < b.end);
    });
    return merged;
}

QString formatClockTime(double seconds, QStringView separator)
{
    const qint64 ms = roundedUnits(seconds, 1000);
    return QString::asprintf("%02lld:%02lld:%02lld", ms / 3'600'000, (ms / 60'000) % 60,
                             (ms / 1000) % 60)
        + separator.toString() + QString::asprintf("%03lld", ms % 1000);
}

QString formatASSTime(double seconds)
{
    const qint64 cs = roundedUnits(seconds, 100);
    return QString::asprintf("%lld:%02lld:%02lld.%02lld", cs / 360'000, (cs / 6000) % 60,
                             (cs / 100) % 60, cs % 100);
}

QString strippedSubtitleMarkup(const QString& text)
{
    // Karaoke timestamps inside a cue ("<00:05:04.199>").
    static const QRegularExpression timestamps(QStringLiteral("<(?:\\d+:)?\\d+:\\d+[.,]\\d+>"));
    // Fallback parentheses of ruby, for readers that show no ruby: ours are added below.
    static const QRegularExpression rubyParentheses(QStringLiteral("<rp(?:[.\\s][^>]*)?>[^<]*</rp>"));
    // A reading follows its base text in parentheses; its end tag may be left implied.
    static const QRegularExpression readings(QStringLiteral("<rt(?:[.\\s][^>]*)?>([^<]+)(?:</rt>)?"));
    static const QRegularExpression tags(
        QStringLiteral("</?(?:i|b|u|c|v|ruby|rt|rp|lang)(?:[.\\s][^>]*)?>"));
    QString stripped = text;
    if (stripped.contains(QLatin1Char('<'))) {
        stripped.remove(timestamps);
        stripped.remove(rubyParentheses);
        stripped.replace(readings, QStringLiteral("(\\1)"));
        stripped.remove(tags);
    }
    if (stripped.contains(QLatin1Char('&'))) {
        // WebVTT's escapes, undone once the tags are gone so that "&lt;" stays text.
        static const std::pair<const char*, const char16_t*> entities[] = {
            {"&lt;", u"<"}, {"&gt;", u">"}, {"&nbsp;", u"\u00A0"}, {"&lrm;", u"\u200E"},
            {"&rlm;", u"\u200F"}, {"&amp;", u"&"}};
        for (const auto& [name, character] : entities)
            stripped.replace(QLatin1String(name), QString::fromUtf16(character));
    }
    return stripped;
}

QString cueBodyText(const QString& text)
{
    // A blank line would end the cue and a "-->" would read as a timing line.
    QStringList lines;
    for (const QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        if (line.trimmed().isEmpty())
            continue;
        QString kept = line.toString();
        while (kept.contains(QLatin1String("-->")))
            kept.replace(QLatin1String("-->"), QLatin1String("->"));
        lines.append(kept);
    }
    return lines.join(QLatin1Char('\n'));
}

QString srtBlock(qsizetype position, const QString& text, double start, double end)
{
    return QString::number(position + 1) + QLatin1Char('\n') + formatClockTime(start, u",")
        + QLatin1String(" --> ") + formatClockTime(end, u",") + QLatin1Char('\n')
        + cueBodyText(strippedSubtitleMarkup(text)) + QLatin1Char('\n');
}

QString skippedCuesNote(const QString& fileName, qint64 skipped)
{
    if (skipped <= 0)
        return QString();
    return QStringLiteral("%1: %2 unreadable subtitle%3 left out")
        .arg(fileName, QString::number(skipped), skipped == 1 ? QString() : QStringLiteral("s"));
}

QString subtitleText(const QList<SubtitleCue>& cues, SubtitleFormat format)
{
    QStringList parts;
    parts.reserve(cues.size());
    switch (format) {
    case SubtitleFormat::srt:
        for (qsizetype i = 0; i < cues.size(); ++i)
            parts.append(srtBlock(i, cues[i].text, cues[i].start, cues[i].end));
        return parts.join(QLatin1Char('\n'));
    case SubtitleFormat::vtt:
        for (const SubtitleCue& cue : cues)
            parts.append(formatClockTime(cue.start, u".") + QLatin1String(" --> ")
                         + formatClockTime(cue.end, u".") + QLatin1Char('\n') + cueBodyText(cue.text)
                         + QLatin1Char('\n'));
        return QStringLiteral("WEBVTT\n\n") + parts.join(QLatin1Char('\n'));
    case SubtitleFormat::ass:
    case SubtitleFormat::ssa: {
        const bool ass = format == SubtitleFormat::ass;
        for (const SubtitleCue& cue : cues) {
            QString line = strippedSubtitleMarkup(cue.text);
            line.replace(QLatin1Char('\n'), QLatin1String("\\N"));
            parts.append(QLatin1String(ass ? "Dialogue: 0," : "Dialogue: Marked=0,")
                         + formatASSTime(cue.start) + QLatin1Char(',') + formatASSTime(cue.end)
                         + QLatin1String(",Default,,0,0,0,,") + line);
        }
        return (ass ? assHeader() : ssaHeader()) + QLatin1Char('\n')
            + parts.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    case SubtitleFormat::txt:
    case SubtitleFormat::unknown:
        break;
    }
    for (const SubtitleCue& cue : cues) {
        QString line = strippedSubtitleMarkup(cue.text);
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        parts.append(line);
    }
    return parts.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace qv

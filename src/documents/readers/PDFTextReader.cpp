#include "documents/readers/PDFTextReader.h"

#include "engines/pdf/PDFEngine.h"
#include "engines/pdf/PDFRenderer.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/WordsKept.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <cmath>

namespace qv {
namespace {

QString joined(const QList<DocRun>& runs)
{
    QString text;
    for (const DocRun& run : runs)
        text += run.text;
    return text;
}

QString trimBlanks(const QString& text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && (text[start] == QLatin1Char(' ') || text[start] == QLatin1Char('\t')))
        ++start;
    while (end > start && (text[end - 1] == QLatin1Char(' ') || text[end - 1] == QLatin1Char('\t')))
        --end;
    return text.mid(start, end - start);
}

// The band at the top and at the bottom of a page, as a share of its height, that a line must
// lie in to be read as a page number or running head.
constexpr double marginShare = 0.1;

PDFTextReader::Line makeLine(const QList<PDFRenderer::TextSpan>& spans, double pageHeight, QHash<int, qint64>& sizes)
{
    PDFTextReader::Line line;
    QHash<int, qint64> weights;
    QList<int> order;
    QRectF box;
    for (const auto& span : spans) {
        box = box.isNull() ? span.box : box.united(span.box);
        DocRun run{span.text};
        run.bold = span.bold;
        run.italic = span.italic;
        run.code = span.monospaced;
        appendMergedRun(line.runs, run);
        const int size = int(std::lround(span.size));
        if (!weights.contains(size))
            order.append(size);
        weights[size] += span.text.size();
    }
    const QString text = trimBlanks(joined(line.runs));
    if (text.isEmpty())
        return {};
    int best = 12;
    qint64 heaviest = -1;
    for (int size : order) {
        if (weights[size] > heaviest) {
            heaviest = weights[size];
            best = size;
        }
    }
    line.size = best;
    line.inMargin = box.bottom() <= pageHeight * marginShare || box.top() >= pageHeight * (1 - marginShare);
    sizes[best] += text.size();
    return line;
}

class Builder {
public:
    QList<DocBlock> blocks;

    void flush()
    {
        if (!m_runs.isEmpty()) {
            while (m_runs.first().text.startsWith(QLatin1Char(' ')))
                m_runs.first().text.remove(0, 1);
            while (m_runs.last().text.endsWith(QLatin1Char(' ')))
                m_runs.last().text.chop(1);
            if (!joined(m_runs).isEmpty()) {
                DocBlock block = m_listItem ? DocBlock::listItem(m_ordered, 1, m_runs) : DocBlock::paragraph(m_runs);
                blocks.append(block);
            }
        }
        m_runs.clear();
        m_listItem = false;
        m_ordered = false;
    }

    void heading(int level, const QString& text)
    {
        flush();
        if (!blocks.isEmpty() && blocks.last().kind == DocBlock::Kind::heading && blocks.last().level == level
            && blocks.last().plainText().size() + text.size() < 120) {
            blocks.last().runs.last().text += QLatin1Char(' ') + text;
            return;
        }
        blocks.append(DocBlock::heading(level, {DocRun{text}}));
    }

    void startListItem(bool ordered)
    {
        flush();
        m_listItem = true;
        m_ordered = ordered;
    }

    void append(QList<DocRun> runs, const QString& trimmed)
    {
        if (!m_runs.isEmpty() && !runs.isEmpty()) {
            QString& last = m_runs.last().text;
            if (last.endsWith(QLatin1Char('-')) && !trimmed.isEmpty() && trimmed[0].isLower()) {
                last.chop(1);
                // The line's own leading blanks go with the hyphen.
                while (!runs.isEmpty() && runs.first().text.startsWith(QLatin1Char(' ')))
                    runs.first().text.remove(0, 1);
            } else if (!last.endsWith(QLatin1Char(' '))) {
                last += QLatin1Char(' ');
            }
        }
        for (const DocRun& run : runs) {
            if (!m_runs.isEmpty() && m_runs.last().hasSameStyle(run))
                m_runs.last().text += run.text;
            else
                m_runs.append(run);
        }
    }

    bool pending() const { return !m_runs.isEmpty(); }
    QString lastText() const { return m_runs.isEmpty() ? QString() : m_runs.last().text; }

private:
    QList<DocRun> m_runs;
    bool m_listItem = false;
    bool m_ordered = false;
};

bool endsSentence(const QString& text)
{
    if (text.isEmpty())
        return false;
    static const QString enders = QStringLiteral(".!?:\u201D\"");
    return enders.contains(text.back());
}

} // namespace

DocumentModel PDFTextReader::modelFromPages(const QList<QList<Line>>& pages, const QString& title)
{
    QHash<int, qint64> sizes;
    for (const auto& page : pages)
        for (const Line& line : page)
            if (line.size > 0)
                sizes[line.size] += trimBlanks(joined(line.runs)).size();
    int body = 12;
    qint64 most = -1;
    QList<int> keys = sizes.keys();
    std::sort(keys.begin(), keys.end()); // ties go to the smaller size
    for (int size : keys) {
        if (sizes[size] > most) {
            most = sizes[size];
            body = size;
        }
    }

    QSet<QString> running;
    if (pages.size() >= 3) {
        QHash<QString, int> counts;
        for (const auto& page : pages) {
            QList<const Line*> texts;
            for (const Line& line : page)
                if (!trimBlanks(joined(line.runs)).isEmpty())
                    texts.append(&line);
            if (texts.isEmpty())
                continue;
            QSet<QString> seen;
            for (const Line* line : {texts.first(), texts.last()})
                if (line->size <= body * 1.05 && line->inMargin)
                    seen.insert(trimBlanks(joined(line->runs)));
            for (const QString& text : seen)
                ++counts[text];
        }
        for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
            if (it.value() * 2 > pages.size())
                running.insert(it.key());
    }

    static const QRegularExpression pageNumber(QStringLiteral("^(page\\s*)?\\d{1,4}(\\s*(/|of)\\s*\\d{1,4})?$"),
                                               QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression marker(QStringLiteral("^\\s*([•◦▪‣⁃·–\\-*]|\\(?\\d{1,3}[.)]|[a-z][.)])\\s+"));

    Builder builder;
    for (const auto& page : pages) {
        if (page.isEmpty())
            continue;
        QList<qsizetype> lengths;
        for (const Line& line : page) {
            const qsizetype length = joined(line.runs).size();
            if (length > 0)
                lengths.append(length);
        }
        std::sort(lengths.begin(), lengths.end());
        const qsizetype quartile = lengths.isEmpty() ? 60 : lengths[(3 * lengths.size()) / 4];
        const qsizetype shortLine = qsizetype(double(quartile) * 0.75);

        for (const Line& line : page) {
            const QString t = trimBlanks(joined(line.runs));
            if (t.isEmpty()) {
                builder.flush();
                continue;
            }
            if (line.inMargin && (running.contains(t) || pageNumber.match(t).hasMatch()))
                continue;
            const double s = line.size;
            if (t.size() <= 120 && s >= body * 1.12) {
                const int level = s >= body * 1.6 ? 1 : s >= body * 1.3 ? 2 : 3;
                builder.heading(level, t);
                continue;
            }
            QList<DocRun> runs = line.runs;
            QString text = t;
            if (const auto match = marker.match(t); match.hasMatch()) {
                // "1." and "12)" are numbered; "(3)" and "a)" are not.
                builder.startListItem(match.captured(1).front().isDigit());
                text = t.mid(match.capturedLength());
                runs = {DocRun{text}};
            }
            builder.append(runs, text);
            if (endsSentence(t) && t.size() < shortLine)
                builder.flush();
        }
        if (builder.pending() && endsSentence(trimBlanks(builder.lastText())))
            builder.flush();
    }
    builder.flush();

    DocumentModel model;
    model.blocks = builder.blocks;
    if (!title.isEmpty()) {
        model.title = title;
    } else {
        for (const DocBlock& block : model.blocks) {
            if (block.kind == DocBlock::Kind::heading) {
                model.title = block.plainText();
                break;
            }
        }
    }
    return model;
}

DocumentModel PDFTextReader::documentModel(const QString& path, const std::optional<QString>& password,
                                           std::stop_token stop)
{
    const PDFDocument document = PDFEngine::open(path, password);
    PDFRenderer& renderer = document.renderer();
    QList<QList<Line>> pages;
    QHash<int, qint64> sizes;
    bool anyText = false;
    for (int i = 0; i < renderer.pageCount(); ++i) {
        throwIfCancelled(stop);
        QList<Line> lines;
        QSizeF shown;
        for (const auto& spans : renderer.textLines(i, &shown)) {
            for (const auto& span : spans)
                anyText = anyText || PDFEngine::holdsReadableText(span.text);
            lines.append(makeLine(spans, shown.height(), sizes));
        }
        pages.append(lines);
    }
    // A scan made into an empty document is no conversion: say what would help, as the text
    // conversion does.
    if (!anyText)
        throw EngineError(QStringLiteral("This PDF has no text layer. Try OCR first"));
    DocumentModel model = modelFromPages(pages, renderer.title());
    // What the pages hold, line by line, is what the document must keep: where the reading of
    // headings, running heads and page numbers took most of it away, every line stays a
    // paragraph of its own.
    QString source;
    for (const QList<Line>& page : pages)
        for (const Line& line : page)
            source += joined(line.runs) + QLatin1Char('\n');
    if (!WordsKept::keepsText(source, modelText(model))) {
        DocumentModel plain;
        plain.title = model.title;
        for (const QList<Line>& page : pages) {
            for (const Line& line : page) {
                if (!trimBlanks(joined(line.runs)).isEmpty())
                    plain.blocks.append(DocBlock::paragraph(line.runs));
            }
        }
        model = std::move(plain);
    }
    return model;
}

QString PDFTextReader::modelText(const DocumentModel& model)
{
    QString text;
    for (const DocBlock& block : model.blocks)
        text += block.plainText() + QLatin1Char('\n');
    return text;
}

} // namespace qv

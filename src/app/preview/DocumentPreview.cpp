#include "app/preview/DocumentPreview.h"

#include "platform/processes/ThreadCall.h"

#include <QFontDatabase>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QVBoxLayout>

#include <memory>

namespace qv {

namespace {

using Block = IsolatedDocumentReading::Block;

// The size a picture's document states, kept beside the size it is shown at.
constexpr int statedSize = QTextFormat::UserProperty + 1;

QWidget* busyView(const FileInfo& file, QWidget* parent)
{
    auto* view = new QWidget(parent);
    auto* layout = new QVBoxLayout(view);
    layout->addStretch(1);
    auto* bar = new QProgressBar(view);
    bar->setRange(0, 0); // no end: it keeps moving
    bar->setTextVisible(false);
    bar->setFixedSize(96, 8);
    layout->addWidget(bar, 0, Qt::AlignHCenter);
    auto* label = new QLabel(QStringLiteral("Reading %1…").arg(file.name), view);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    layout->addWidget(label);
    layout->addStretch(1);
    return view;
}

// The block's text with its look: bold, italic, underlined, struck out or code, stretch by
// stretch.
void insertStyled(QTextCursor& cursor, const Block& block, const QTextCharFormat& base)
{
    if (block.spans.isEmpty()) {
        cursor.insertText(block.text, base);
        return;
    }
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    qsizetype at = 0;
    for (const Block::Span& span : block.spans) {
        QTextCharFormat format = base;
        if (span.bold)
            format.setFontWeight(QFont::Bold);
        if (span.italic)
            format.setFontItalic(true);
        if (span.underline)
            format.setFontUnderline(true);
        if (span.strike)
            format.setFontStrikeOut(true);
        if (span.code)
            format.setFontFamilies(fixed.families());
        cursor.insertText(block.text.mid(at, span.length), format);
        at += span.length;
    }
    if (at < block.text.size())
        cursor.insertText(block.text.mid(at), base);
}

QTextCharFormat plainFormat(const QTextDocument& document)
{
    QTextCharFormat format;
    format.setFont(document.defaultFont());
    return format;
}

// A cell that holds an amount: digits with their signs, separators, currency or percent.
bool isAmount(const QString& cell)
{
    static const QRegularExpression amount(QStringLiteral(
        "^\\s*[-+\\x{2212}(]?\\s?[$\\x{20AC}\\x{00A3}\\x{00A5}]?\\s?\\d[\\d,.'\\x{00A0}\\x{202F} ]*"
        "(?:\\s?%|\\s?[$\\x{20AC}\\x{00A3}\\x{00A5}])?\\)?\\s*$"));
    return amount.match(cell).hasMatch();
}

// The columns whose cells below the header all hold amounts: right-aligned, as word processors
// and spreadsheets set figures so their digits line up.
QList<bool> amountColumns(const QList<QStringList>& rows, int columns)
{
    QList<bool> right(columns, false);
    for (int c = 0; c < columns; ++c) {
        bool any = false;
        bool all = true;
        for (qsizetype r = 1; r < rows.size() && all; ++r) {
            const QString cell = c < rows[r].size() ? rows[r][c] : QString();
            if (cell.trimmed().isEmpty())
                continue;
            any = true;
            all = isAmount(cell);
        }
        right[c] = any && all;
    }
    return right;
}

void insertTable(QTextCursor& cursor, const QList<QStringList>& rows, const QTextCharFormat& plain)
{
    int columns = 0;
    for (const QStringList& row : rows)
        columns = std::max(columns, int(row.size()));
    if (rows.isEmpty() || columns == 0)
        return;
    // The whole width of the window, its rows banded, the header row shaded.
    QTextTableFormat format;
    // No rules: a border would widen the table past the window; the bands part the rows.
    format.setBorder(0);
    format.setMargin(0);
    format.setPadding(0);
    format.setCellPadding(4);
    format.setCellSpacing(0);
    format.setHeaderRowCount(1);
    // A whole 100 % rounds a pixel past the window and brings a scroll bar.
    format.setWidth(QTextLength(QTextLength::PercentageLength, 99));
    QTextTable* table = cursor.insertTable(int(rows.size()), columns, format);
    QTextCharFormat header = plain;
    header.setFontWeight(QFont::Bold);
    const QList<bool> right = amountColumns(rows, columns);
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < columns; ++c) {
            QTextTableCell cell = table->cellAt(r, c);
            if (right[c]) {
                QTextCursor inCell = cell.firstCursorPosition();
                QTextBlockFormat aligned = inCell.blockFormat();
                aligned.setAlignment(Qt::AlignRight);
                inCell.setBlockFormat(aligned);
            }
            if (r == 0 || r % 2 == 0) {
                QTextCharFormat shade = cell.format();
                shade.setBackground(r == 0 ? QColor(0, 0, 0, 22) : QColor(0, 0, 0, 8));
                cell.setFormat(shade);
            }
            if (c < rows[r].size())
                cell.firstCursorPosition().insertText(rows[r][c], r == 0 ? header : plain);
        }
    }
    cursor.movePosition(QTextCursor::End);
}

} // namespace

DocumentPreview::DocumentPreview(const FileInfo& file, QWidget* fallback, QWidget* parent)
    : QStackedWidget(parent), m_fallback(fallback)
{
    m_busy = busyView(file, this);
    m_text = new QTextEdit(this);
    m_text->setReadOnly(true);
    m_text->setObjectName(QStringLiteral("documentText"));
    addWidget(m_busy);
    addWidget(m_text);
    addWidget(m_fallback);
    setCurrentWidget(m_busy);
    m_text->viewport()->installEventFilter(this);

    QPointer<DocumentPreview> self(this);
    const std::stop_token stop = m_stop.get_token();
    runInBackground([self, file, stop] {
        auto preview = std::make_shared<std::optional<IsolatedDocumentReading::Preview>>(
            IsolatedDocumentReading::preview(file, stop, true));
        postToMainThread([self, preview] {
            if (self)
                self->show(*preview);
        });
    });
}

DocumentPreview::~DocumentPreview()
{
    m_stop.request_stop();
}

void DocumentPreview::show(const std::optional<IsolatedDocumentReading::Preview>& preview)
{
    if (preview && !preview->blocks.isEmpty()) {
        layOut(*m_text->document(), *preview);
        m_text->moveCursor(QTextCursor::Start);
        setCurrentWidget(m_text);
        m_state = State::shown;
        // A view not yet on screen has no width of its own: it fits them once it is sized.
        if (m_text->viewport()->isVisible())
            fitPictures(*m_text->document(), textWidth());
    } else {
        setCurrentWidget(m_fallback);
        m_state = State::unreadable;
    }
    Q_EMIT settled();
}

bool DocumentPreview::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_text->viewport() && event->type() == QEvent::Resize && m_state == State::shown)
        fitPictures(*m_text->document(), textWidth());
    return QStackedWidget::eventFilter(watched, event);
}

double DocumentPreview::textWidth() const
{
    return m_text->viewport()->width() - 2 * m_text->document()->documentMargin();
}

void DocumentPreview::fitPictures(QTextDocument& document, double width)
{
    // Gathered first: a fragment's new format may merge it with its neighbours.
    QList<std::pair<int, QTextImageFormat>> changes;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            const QSizeF stated = format.property(statedSize).toSizeF();
            if (stated.isEmpty())
                continue;
            const QSizeF fitted = width >= 1 && stated.width() > width ? stated * (width / stated.width()) : stated;
            if (qFuzzyCompare(format.width(), fitted.width()) && qFuzzyCompare(format.height(), fitted.height()))
                continue;
            format.setWidth(fitted.width());
            format.setHeight(fitted.height());
            for (int at = 0; at < fragment.length(); ++at)
                changes.append({fragment.position() + at, format});
        }
    }
    for (const auto& [position, format] : changes) {
        QTextCursor cursor(&document);
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        cursor.setCharFormat(format);
    }
}

QString DocumentPreview::cutLine(const IsolatedDocumentReading::Preview& preview)
{
    return preview.cutNote.isEmpty() ? QStringLiteral("This preview shows the first part of the file only.")
                                     : preview.cutNote;
}

void DocumentPreview::layOut(QTextDocument& document, const IsolatedDocumentReading::Preview& preview)
{
    document.clear();
    document.setDocumentMargin(14);
    // A reading size, not a dialog's.
    QFont body = document.defaultFont();
    if (body.pointSizeF() > 0)
        body.setPointSizeF(std::max(body.pointSizeF() * 1.15, 10.5));
    document.setDefaultFont(body);
    QTextCursor cursor(&document);
    const QTextCharFormat plain = plainFormat(document);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    bool first = true;
    // Lists continue while items follow one another, one list per nesting level.
    QList<QTextList*> lists;
    int pictures = 0;
    const auto nextBlock = [&](const QTextBlockFormat& format, const QTextCharFormat& chars) {
        if (first) {
            cursor.setBlockFormat(format);
            cursor.setBlockCharFormat(chars);
            first = false;
        } else {
            cursor.insertBlock(format, chars);
        }
    };

    // A table alone (a sheet, an archive, subtitles) is named above it.
    const bool tablesOnly = std::all_of(preview.blocks.begin(), preview.blocks.end(),
                                        [](const Block& block) { return block.kind == Block::Kind::table; });
    if (tablesOnly && !preview.title.isEmpty()) {
        QTextCharFormat caption = plain;
        caption.setFontWeight(QFont::Bold);
        caption.setFontPointSize(plain.font().pointSizeF() * 1.25);
        QTextBlockFormat captionBlock;
        captionBlock.setBottomMargin(6);
        nextBlock(captionBlock, caption);
        cursor.insertText(preview.title, caption);
    }

    for (const Block& block : preview.blocks) {
        if (block.kind != Block::Kind::listItem)
            lists.clear();
        QTextBlockFormat format;
        format.setBottomMargin(6);
        QTextCharFormat chars = plain;
        switch (block.kind) {
        case Block::Kind::heading: {
            static constexpr double scale[] = {1.7, 1.45, 1.25, 1.1, 1.0, 1.0};
            format.setHeadingLevel(block.level);
            format.setTopMargin(block.level <= 2 ? 10 : 6);
            chars.setFontWeight(QFont::Bold);
            chars.setFontPointSize(plain.font().pointSizeF() * scale[std::clamp(block.level, 1, 6) - 1]);
            nextBlock(format, chars);
            insertStyled(cursor, block, chars);
            break;
        }
        case Block::Kind::paragraph:
            nextBlock(format, chars);
            insertStyled(cursor, block, chars);
            break;
        case Block::Kind::listItem: {
            format.setBottomMargin(2);
            nextBlock(format, chars);
            const int level = std::clamp(block.level, 1, 8);
            while (lists.size() > level)
                lists.removeLast();
            QTextList* list = lists.size() == level ? lists.last() : nullptr;
            if (list && (list->format().style() == QTextListFormat::ListDecimal) != block.ordered)
                list = nullptr;
            if (list) {
                list->add(cursor.block());
            } else {
                QTextListFormat listFormat;
                listFormat.setIndent(level);
                listFormat.setStyle(block.ordered ? QTextListFormat::ListDecimal
                                                  : (level == 1 ? QTextListFormat::ListDisc : QTextListFormat::ListCircle));
                while (lists.size() < level)
                    lists.append(nullptr);
                lists[level - 1] = cursor.createList(listFormat);
            }
            insertStyled(cursor, block, chars);
            break;
        }
        case Block::Kind::code:
            format.setBackground(QColor(0, 0, 0, 14));
            format.setNonBreakableLines(true);
            chars.setFont(fixed);
            nextBlock(format, chars);
            cursor.insertText(block.text, chars);
            break;
        case Block::Kind::quote:
            format.setLeftMargin(18);
            chars.setFontItalic(true);
            nextBlock(format, chars);
            insertStyled(cursor, block, chars);
            break;
        case Block::Kind::rule:
            format.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth, QTextLength(QTextLength::PercentageLength, 100));
            nextBlock(format, chars);
            break;
        case Block::Kind::table:
            nextBlock(format, chars);
            insertTable(cursor, block.rows, plain);
            break;
        case Block::Kind::picture: {
            nextBlock(format, chars);
            // The document's resource, so nothing is looked up by name anywhere else.
            const QUrl name(QStringLiteral("preview-picture:%1").arg(pictures++));
            document.addResource(QTextDocument::ImageResource, name, block.picture);
            QTextImageFormat picture;
            picture.setName(name.toString());
            picture.setWidth(block.shown.width());
            picture.setHeight(block.shown.height());
            picture.setProperty(statedSize, QSizeF(block.shown));
            cursor.insertImage(picture);
            break;
        }
        }
    }
    // A preview that holds the file's first part only says so, and what was left out.
    if (preview.cut) {
        QTextCharFormat more = plain;
        more.setForeground(QColor(110, 110, 110));
        more.setFontItalic(true);
        QTextBlockFormat note;
        note.setTopMargin(10);
        nextBlock(note, more);
        cursor.insertText(cutLine(preview), more);
    }
}

} // namespace qv

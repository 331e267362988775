#include "documents/layout/LinesAbovePage.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace qv {
namespace {

// Far above any page, yet within the range of Qt's fixed-point coordinates.
constexpr qreal away = -1.0e7;

} // namespace

LinesAbovePage::LinesAbovePage(QTextDocument& text, qreal top, qreal pageHeight, QTextBlock& from)
{
    QAbstractTextDocumentLayout* layout = text.documentLayout();
    if (!from.isValid())
        from = text.begin();
    // Blocks ending above this page end above every later one.
    while (from.isValid() && layout->blockBoundingRect(from).bottom() <= top)
        from = from.next();
    for (QTextBlock block = from; block.isValid(); block = block.next()) {
        const QRectF box = layout->blockBoundingRect(block);
        if (box.top() > top + pageHeight)
            break;
        QTextLayout* lines = block.layout();
        if (!lines || lines->lineCount() < 2 || box.top() >= top || box.bottom() <= top)
            continue;
        // Line positions are the layout's own; the block's box places the layout on the page.
        const qreal origin = box.top() - lines->position().y();
        for (int i = 0; i < lines->lineCount(); ++i) {
            QTextLine line = lines->lineAt(i);
            if (origin + lines->position().y() + line.y() + line.height() > top)
                break;
            m_moved.append({lines, i, line.position()});
            line.setPosition(QPointF(line.x(), away));
        }
    }
}

LinesAbovePage::~LinesAbovePage()
{
    for (const Moved& moved : std::as_const(m_moved))
        moved.layout->lineAt(moved.line).setPosition(moved.position);
}

} // namespace qv

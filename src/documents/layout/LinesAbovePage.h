#pragma once

#include <QList>
#include <QPointF>

class QTextBlock;
class QTextDocument;
class QTextLayout;

namespace qv {

// Qt draws a page of a laid-out document clipped to the page, but QTextLayout::draw starts a
// block that runs over the page's top at its last line wholly above it: that line of the page
// before lands in this page's text, clipped out of sight yet read by text tools (a line found
// twice). For the time this object lives, those lines stand far above every page; the layout
// is given back as it was.
class LinesAbovePage {
public:
    // top: the page's top in the layout's coordinates. from: where to look, which the pages
    // drawn in turn keep moving on past the blocks that end above their tops.
    LinesAbovePage(QTextDocument& text, qreal top, qreal pageHeight, QTextBlock& from);
    ~LinesAbovePage();

    LinesAbovePage(const LinesAbovePage&) = delete;
    LinesAbovePage& operator=(const LinesAbovePage&) = delete;

private:
    struct Moved {
        QTextLayout* layout;
        int line;
        QPointF position;
    };
    QList<Moved> m_moved;
};

} // namespace qv

#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QRectF>

namespace qv {

// The finished boxes of the redaction editor, in drawing order, each in its page's own space
// (points, origin at the lower left of the media box, before the page's rotation). Main thread.
class RedactModel : public QObject {
    Q_OBJECT
public:
    struct Box {
        int page = 0; // from 0
        QRectF bounds;
    };

    using QObject::QObject;

    const QList<Box>& boxes() const { return m_boxes; }
    int count() const { return int(m_boxes.size()); }

    // Keeps a box of at least 3 x 3 points; a click or a thin stroke leaves nothing.
    bool add(const Box& box);
    // Takes back the newest box; nothing when there is none.
    void undo();
    // The boxes by page, pages without boxes left out.
    QMap<int, QList<QRectF>> redactions() const;

    // "Redact", "Redact 1 Area", "Redact 4 Areas".
    static QString actionTitle(int count);

Q_SIGNALS:
    void changed();

private:
    QList<Box> m_boxes;
};

} // namespace qv

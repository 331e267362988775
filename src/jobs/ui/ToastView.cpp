#include "jobs/ui/ToastView.h"

#include "graphics/SymbolTable.h"
#include "jobs/ui/PillBackground.h"
#include "model/settings/SettingsReaders.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace qv {

namespace {

constexpr double horizontalInset = 16;
constexpr double verticalInset = 11;
constexpr double spacing = 8;
constexpr double symbolSize = 15;
constexpr double chevronSize = 10;
constexpr int maxLines = 3;

QFont textFont()
{
    QFont f;
    f.setPixelSize(13);
    f.setWeight(QFont::Medium);
    return f;
}

} // namespace

ToastView::ToastView(QString text, QString symbol, double maxWidth, bool clickable, QWidget* parent)
    : QWidget(parent)
    , m_text(std::move(text))
    , m_symbol(std::move(symbol))
    , m_clickable(clickable)
{
    setAccessibleName(m_text);
    if (clickable)
        setCursor(Qt::PointingHandCursor);
    const QFontMetricsF metrics(textFont());
    const double chrome = 2 * horizontalInset + symbolSize + spacing + (clickable ? spacing + chevronSize : 0);
    const double available = std::max(maxWidth - chrome, 20.0);

    // Lay the text out in the room there is; a fourth line is cut off, its end marked.
    QTextLayout layout(m_text, textFont());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    double widest = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(available);
        if (m_lines.size() == maxLines - 1) {
            const QString rest = m_text.mid(line.textStart()).trimmed();
            const QString last = metrics.elidedText(rest, Qt::ElideRight, available);
            m_lines.append(last);
            widest = std::max(widest, metrics.horizontalAdvance(last));
            break;
        }
        const QString part = m_text.mid(line.textStart(), line.textLength()).trimmed();
        m_lines.append(part);
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    if (m_lines.isEmpty())
        m_lines.append(QString());
    m_textWidth = std::min(std::ceil(widest), available);
    const double textHeight = m_lines.size() * metrics.lineSpacing();
    const double contentHeight = std::max(textHeight, symbolSize);
    m_size = QSize(int(std::ceil(chrome + m_textWidth)), int(std::ceil(contentHeight + 2 * verticalInset)));
    resize(m_size);
}

void ToastView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintPillBackground(p, rect(), palette());
    const double midY = height() / 2.0;
    double x = horizontalInset;
    paintSymbol(p, m_symbol, QRectF(x, midY - symbolSize / 2, symbolSize, symbolSize), currentAccentColor());
    x += symbolSize + spacing;

    const QFontMetricsF metrics(textFont());
    p.setFont(textFont());
    p.setPen(primaryTextColor(palette()));
    double y = midY - m_lines.size() * metrics.lineSpacing() / 2;
    for (const QString& line : m_lines) {
        p.drawText(QRectF(x, y, m_textWidth + 1, metrics.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += metrics.lineSpacing();
    }
    if (m_clickable) {
        x += m_textWidth + spacing;
        paintSymbol(p, QStringLiteral("chevron.right"), QRectF(x, midY - chevronSize / 2, chevronSize, chevronSize),
                    secondaryTextColor(palette()));
    }
}

void ToastView::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_clickable && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

} // namespace qv

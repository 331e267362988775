#include "editors/photo/PhotoLabels.h"

#include "graphics/SymbolTable.h"

#include <QHBoxLayout>
#include <QLabel>

namespace qv {

QFont PhotoLabels::scaled(QFont font, double scale)
{
    // Pixel-sized fonts have no point size to scale.
    if (scale != 1.0 && font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * scale);
    return font;
}

QLabel* PhotoLabels::secondary(const QString& text, double scale)
{
    auto* label = new QLabel(text);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    label->setFont(scaled(label->font(), scale));
    return label;
}

QLabel* PhotoLabels::caption(const QString& text)
{
    return secondary(text, captionScale);
}

QLabel* PhotoLabels::callout(const QString& text)
{
    return secondary(text, calloutScale);
}

QWidget* PhotoLabels::symbolTitle(const QString& symbol, const QString& title)
{
    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* icon = new QLabel;
    icon->setPixmap(symbolIcon(symbol).pixmap(16, 16));
    layout->addWidget(icon);
    auto* text = new QLabel(title);
    text->setFont(scaled(text->font(), calloutScale));
    layout->addWidget(text);
    return box;
}

} // namespace qv

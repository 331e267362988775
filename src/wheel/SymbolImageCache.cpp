#include "wheel/SymbolImageCache.h"

#include "graphics/SymbolTable.h"
#include "model/operations/HexColor.h"

#include <QLocale>
#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace qv {

namespace {

QString shortest(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

// Symbol names are not theme names: the symbol table maps them, and a name it lacks is no
// symbol at all.
QIcon themeIcon(const QString& name)
{
    return themeIconName(name).isEmpty() ? QIcon() : oneColourSymbolIcon(name);
}

} // namespace

SymbolImageCache::SymbolImageCache(Loader loader)
    : m_loader(loader ? std::move(loader) : Loader(&themeIcon))
{
}

SymbolImageCache& SymbolImageCache::shared()
{
    static SymbolImageCache cache;
    return cache;
}

void SymbolImageCache::setLoader(Loader loader)
{
    m_loader = loader ? std::move(loader) : Loader(&themeIcon);
    m_images.clear();
}

QString SymbolImageCache::key(const QString& symbol, double pointSize, QFont::Weight weight,
                              const QColor& color, double scale)
{
    return QStringList{symbol, shortest(pointSize), QString::number(int(weight)),
                       hexString(color), shortest(color.alphaF()), shortest(scale)}
        .join(QLatin1Char('|'));
}

std::optional<QImage> SymbolImageCache::image(const QString& symbol, double pointSize,
                                              QFont::Weight weight, const QColor& color,
                                              double scale)
{
    const QString cacheKey = key(symbol, pointSize, weight, color, scale);
    if (const auto found = m_images.constFind(cacheKey); found != m_images.constEnd())
        return found.value();

    const QIcon icon = m_loader(symbol);
    if (icon.isNull() || pointSize <= 0 || scale <= 0)
        return std::nullopt;
    const int pixels = static_cast<int>(std::ceil(pointSize * scale));
    const QPixmap pixmap = icon.pixmap(QSize(pixels, pixels));
    if (pixmap.isNull())
        return std::nullopt;

    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(QRect(0, 0, pixels, pixels), pixmap);
        // One colour over the symbol's own shape, as the wheel shows every symbol.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    image.setDevicePixelRatio(scale);

    if (m_images.size() > limit)
        m_images.clear();
    m_images.insert(cacheKey, image);
    return image;
}

std::optional<QImage> symbolIconImage(const QString& symbol, double pointSize,
                                      QFont::Weight weight, const QColor& color, double scale)
{
    return SymbolImageCache::shared().image(symbol, pointSize, weight, color, scale);
}

} // namespace qv

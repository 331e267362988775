#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QImage>

#include <functional>
#include <optional>

namespace qv {

// Symbols rendered once per name, size, weight, colour and scale, tinted in one colour.
// Used on the main thread only.
class SymbolImageCache {
public:
    static constexpr int limit = 200;

    // Gives the icon of a symbol name; a null icon means there is no such symbol.
    using Loader = std::function<QIcon(const QString& name)>;

    // Without a loader, names go through the symbol table (theme icon, else our own drawing).
    explicit SymbolImageCache(Loader loader = {});

    // The process-wide cache the wheel draws from.
    static SymbolImageCache& shared();

    // Replaces the loader and forgets what the old one gave.
    void setLoader(Loader loader);

    // A square image of pointSize × scale pixels (rounded up) at that device pixel ratio.
    std::optional<QImage> image(const QString& symbol, double pointSize, QFont::Weight weight,
                                const QColor& color, double scale);

    int count() const { return m_images.size(); }

    // "name|size|weight|#RRGGBB|alpha|scale", numbers in their shortest form ("20.0").
    static QString key(const QString& symbol, double pointSize, QFont::Weight weight,
                       const QColor& color, double scale);

private:
    Loader m_loader;
    QHash<QString, QImage> m_images;
};

// A symbol from the shared cache.
std::optional<QImage> symbolIconImage(const QString& symbol, double pointSize,
                                      QFont::Weight weight, const QColor& color, double scale);

} // namespace qv

#include "graphics/SymbolTable.h"

#include "graphics/SymbolGlyphs.h"

#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <utility>

namespace qv {

namespace {

struct Entry {
    const char* symbol;
    const char* theme;
    GlyphStyle glyph;
};

const QList<Entry>& table()
{
    static const QList<Entry> entries{
        {"archivebox", "package-x-generic", Glyph::box},
        {"arrow.down.right.and.arrow.up.left", "view-restore", Glyph::collapse},
        {"arrow.left.and.right.righttriangle.left.righttriangle.right", "object-flip-horizontal", Glyph::arrow, 90},
        {"arrow.triangle.2.circlepath", "view-refresh", Glyph::cycle},
        {"arrow.up.and.down.righttriangle.up.righttriangle.down", "object-flip-vertical", Glyph::arrow, 0},
        {"arrow.up.arrow.down", "view-sort-ascending", Glyph::arrow, 180},
        {"arrow.up.forward.app", "document-open", Glyph::share, 45},
        {"arrow.up.left.and.arrow.down.right", "view-fullscreen", Glyph::expand},
        {"arrow.up.right", "go-next", Glyph::arrow, 45},
        {"arrow.uturn.backward", "edit-undo", Glyph::undo},
        {"arrow.uturn.backward.circle", "edit-undo", Glyph::undo},
        {"backward", "media-seek-backward", Glyph::play, 180, true},
        {"bell", "preferences-system-notifications", Glyph::bell},
        {"camera", "camera-photo", Glyph::camera},
        {"checkmark.circle.fill", "emblem-ok", Glyph::check, 0, true},
        {"checkmark.shield", "security-high", Glyph::shield},
        {"chevron.down", "go-down", Glyph::chevron, 90},
        {"chevron.right", "go-next", Glyph::chevron, 0},
        {"circle", "media-record", Glyph::ring},
        {"circle.circle", "view-process-tree", Glyph::ring},
        {"circle.dashed", "content-loading", Glyph::ringDashed},
        {"circle.lefthalf.filled", "display-brightness", Glyph::halfRing},
        {"clock.arrow.2.circlepath", "document-open-recent", Glyph::clock},
        {"clock.arrow.circlepath", "document-open-recent", Glyph::clock},
        {"crop", "transform-crop", Glyph::cropMarks},
        {"cursorarrow.click.2", "input-mouse", Glyph::cursor},
        {"dial.medium", "preferences-system", Glyph::gauge},
        {"doc.badge.arrow.up", "document-export", Glyph::document},
        {"doc.on.doc", "edit-copy", Glyph::documents},
        {"doc.richtext", "x-office-document", Glyph::document},
        {"doc.zipper", "package-x-generic", Glyph::zipper},
        {"dot.radiowaves.up.forward", "network-wireless", Glyph::radio},
        {"drop", "color-select", Glyph::drop},
        {"ellipsis.circle", "view-more", Glyph::ellipsis},
        {"exclamationmark.circle.fill", "dialog-warning", Glyph::exclaim, 0, true},
        {"exclamationmark.triangle", "dialog-warning", Glyph::warning},
        {"eye", "view-reveal", Glyph::eye},
        {"eye.slash", "view-conceal", Glyph::eye, 0, false, true},
        {"folder", "folder", Glyph::folder},
        {"gauge.with.dots.needle.67percent", "utilities-system-monitor", Glyph::gauge},
        {"gearshape", "preferences-system", Glyph::gear},
        {"gearshape.2", "preferences-system", Glyph::gear},
        {"highlighter", "draw-highlight", Glyph::highlighter},
        {"hourglass", "appointment-soon", Glyph::hourglass},
        {"info.circle", "dialog-information", Glyph::info},
        {"line.3.horizontal", "open-menu", Glyph::lines},
        {"link", "insert-link", Glyph::link},
        {"lock", "changes-prevent", Glyph::lock},
        {"lock.open", "changes-allow", Glyph::lock, 0, false, true},
        {"lock.shield", "security-medium", Glyph::shield},
        {"magnifyingglass", "system-search", Glyph::magnifier},
        {"pause.fill", "media-playback-pause", Glyph::pause},
        {"pencil.tip.crop.circle", "document-edit", Glyph::pen},
        {"person.and.background.dotted", "avatar-default", Glyph::person},
        {"person.crop.rectangle.badge.plus", "contact-new", Glyph::person},
        {"photo.on.rectangle", "image-x-generic", Glyph::photo},
        {"photo.stack", "image-x-generic", Glyph::photo},
        {"pip", "window-new", Glyph::pip},
        {"play.fill", "media-playback-start", Glyph::play, 0, true},
        {"qrcode.viewfinder", "view-barcode-qr", Glyph::qrcode},
        {"questionmark.folder", "folder", Glyph::folder},
        {"rectangle", "draw-rectangle", Glyph::rectangle},
        {"rectangle.dashed", "edit-select-all", Glyph::frame},
        {"rectangle.dashed.and.paperclip", "edit-delete", Glyph::redact},
        {"rectangle.stack.badge.plus", "list-add", Glyph::documents},
        {"rotate.left", "object-rotate-left", Glyph::undo},
        {"rotate.right", "object-rotate-right", Glyph::cycle},
        {"shippingbox", "package-x-generic", Glyph::box},
        {"scissors", "edit-cut", Glyph::scissors},
        {"scribble", "draw-freehand", Glyph::scribble},
        {"slider.horizontal.3", "preferences-other", Glyph::sliders},
        {"speaker.slash", "audio-volume-muted", Glyph::speaker, 0, false, true},
        {"speaker.wave.1", "audio-volume-low", Glyph::speaker},
        {"square.and.arrow.down", "document-save", Glyph::tray},
        {"square.and.arrow.up", "document-send", Glyph::share},
        {"square.grid.3x3.square", "view-grid", Glyph::grid},
        {"square.split.2x1", "view-dual", Glyph::grid},
        {"square.stack.3d.down.right", "view-paged", Glyph::documents},
        {"stop.circle.fill", "process-stop", Glyph::stop, 0, true},
        {"sun.max", "display-brightness", Glyph::sun},
        {"tablecells", "x-office-spreadsheet", Glyph::grid},
        {"terminal", "utilities-terminal", Glyph::terminal},
        {"text.bubble", "mail-message", Glyph::bubble},
        {"text.viewfinder", "scanner", Glyph::text},
        {"textformat", "format-text-bold", Glyph::text},
        {"textformat.123", "format-text-bold", Glyph::text},
        {"thermometer.medium", "temperature-normal", Glyph::thermometer},
        {"timeline.selection", "edit-cut", Glyph::trim},
        {"tray.and.arrow.down", "document-save", Glyph::tray},
        {"triangle", "draw-triangle", Glyph::triangle},
        {"waveform", "audio-x-generic", Glyph::wave},
        {"waveform.badge.magnifyingglass", "audio-x-generic", Glyph::wave},
        {"waveform.path", "audio-x-generic", Glyph::wave},
        {"wrench.and.screwdriver", "applications-engineering", Glyph::wrench},
        {"xmark", "window-close", Glyph::cross},
        {"xmark.octagon.fill", "dialog-error", Glyph::octagon, 0, true},
    };
    return entries;
}

const Entry* entryFor(const QString& symbol)
{
    static const QHash<QString, const Entry*> index = [] {
        QHash<QString, const Entry*> map;
        for (const Entry& entry : table())
            map.insert(QString::fromLatin1(entry.symbol), &entry);
        return map;
    }();
    return index.value(symbol, nullptr);
}

class DrawnSymbolEngine : public QIconEngine {
public:
    explicit DrawnSymbolEngine(QString symbol) : m_symbol(std::move(symbol)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        QColor color = QColor(60, 60, 67);
        if (mode == QIcon::Disabled)
            color.setAlphaF(0.4);
        paintSymbol(*painter, m_symbol, rect, color);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QIconEngine* clone() const override { return new DrawnSymbolEngine(m_symbol); }
    QString key() const override { return QStringLiteral("qv.symbol"); }
    QString iconName() override { return m_symbol; }
    bool isNull() override { return false; }

private:
    QString m_symbol;
};

// Whether the icon is drawn in one colour: its visible pixels, their alpha set aside, differ
// little from one another.
bool isOneColour(const QIcon& icon)
{
    const QImage image = icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull())
        return false;
    int low[3] = {255, 255, 255};
    int high[3] = {0, 0, 0};
    bool any = false;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) < 128)
                continue;
            any = true;
            const int channels[3] = {qRed(line[x]), qGreen(line[x]), qBlue(line[x])};
            for (int c = 0; c < 3; ++c) {
                low[c] = std::min(low[c], channels[c]);
                high[c] = std::max(high[c], channels[c]);
            }
        }
    }
    // Antialiased edges and slight shading stay within this.
    constexpr int spread = 48;
    return any && high[0] - low[0] <= spread && high[1] - low[1] <= spread && high[2] - low[2] <= spread;
}

} // namespace

QStringList symbolNames()
{
    QStringList names;
    for (const Entry& entry : table())
        names.append(QString::fromLatin1(entry.symbol));
    return names;
}

QString themeIconName(const QString& symbol)
{
    const Entry* entry = entryFor(symbol);
    return entry ? QString::fromLatin1(entry->theme) : QString();
}

QIcon symbolIcon(const QString& symbol)
{
    const QString theme = themeIconName(symbol);
    if (!theme.isEmpty() && QIcon::hasThemeIcon(theme))
        return QIcon::fromTheme(theme);
    return QIcon(new DrawnSymbolEngine(symbol));
}

QIcon oneColourSymbolIcon(const QString& symbol)
{
    const QString theme = themeIconName(symbol);
    if (!theme.isEmpty()) {
        for (const QString& name : {theme + QStringLiteral("-symbolic"), theme}) {
            if (!QIcon::hasThemeIcon(name))
                continue;
            const QIcon icon = QIcon::fromTheme(name);
            if (isOneColour(icon))
                return icon;
        }
    }
    return QIcon(new DrawnSymbolEngine(symbol));
}

QIcon tintedSymbolIcon(const QString& symbol, const QColor& color)
{
    QIcon icon;
    QColor faded = color;
    faded.setAlphaF(color.alphaF() * 0.35);
    for (const int side : {16, 24, 32, 48, 64}) {
        for (const auto& [mode, ink] : {std::pair{QIcon::Normal, color}, std::pair{QIcon::Disabled, faded}}) {
            QPixmap pixmap(side, side);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            paintSymbol(painter, symbol, QRectF(0, 0, side, side), ink);
            painter.end();
            icon.addPixmap(pixmap, mode);
        }
    }
    return icon;
}

void paintSymbol(QPainter& painter, const QString& symbol, const QRectF& box, const QColor& color)
{
    const Entry* entry = entryFor(symbol);
    const double side = std::min(box.width(), box.height());
    if (side <= 0)
        return;
    // Glyphs with cut-out marks need a layer of their own so the cut does not reach the
    // background below.
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const int px = int(std::ceil(side * ratio));
    QImage layer(px, px, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(px / 24.0, px / 24.0);
        drawGlyph(p, entry ? entry->glyph : GlyphStyle(), color);
    }
    layer.setDevicePixelRatio(ratio);
    const QRectF target(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    painter.drawImage(target, layer);
}

} // namespace qv

#include "app/AppIcon.h"

#include "app/tray/StatusIcon.h"

#include <QBuffer>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>

namespace qv {

QImage appIconImage(int pixelSize)
{
    QImage image(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = pixelSize;
    // Small sizes keep a pixel of air around the square; large ones a little more.
    const double margin = std::max(0.5, side * 0.06);
    const QRectF square(margin, margin, side - 2 * margin, side - 2 * margin);
    QLinearGradient fill(square.topLeft(), square.bottomLeft());
    fill.setColorAt(0, QColor(0x6A, 0x8B, 0xFF));
    fill.setColorAt(1, QColor(0x36, 0x54, 0xD6));
    QPainterPath body;
    body.addRoundedRect(square, square.width() * 0.22, square.width() * 0.22);
    painter.fillPath(body, fill);
    painter.setPen(QPen(QColor(0x23, 0x3B, 0xA8, 160), std::max(0.6, side / 96)));
    painter.drawPath(body);

    // The wheel: three segments and a hub, as the tray shows it.
    const QPointF centre = square.center();
    const double outer = square.width() * 0.34;
    const double inner = outer * 0.5;
    const QRectF outerRect(centre.x() - outer, centre.y() - outer, 2 * outer, 2 * outer);
    const QRectF innerRect(centre.x() - inner, centre.y() - inner, 2 * inner, 2 * inner);
    constexpr double gap = 16;
    constexpr double span = 120 - gap;
    QPainterPath wheel;
    for (int i = 0; i < 3; ++i) {
        const double start = 90 + gap / 2 + i * 120;
        QPainterPath segment;
        segment.arcMoveTo(outerRect, start);
        segment.arcTo(outerRect, start, span);
        segment.arcTo(innerRect, start + span, -span);
        segment.closeSubpath();
        wheel.addPath(segment);
    }
    wheel.addEllipse(centre, inner * 0.46, inner * 0.46);
    painter.fillPath(wheel.translated(0, side * 0.012), QColor(0, 0, 0, 50));
    painter.fillPath(wheel, Qt::white);
    return image;
}

QIcon appIcon()
{
    QIcon drawn;
    for (int size : appIconSizes)
        drawn.addPixmap(QPixmap::fromImage(appIconImage(size)));
    return QIcon::fromTheme(QStringLiteral("quorvenda"), drawn);
}

QString notificationIcon()
{
    const QString name = QStringLiteral("quorvenda");
    if (QIcon::hasThemeIcon(name))
        return name;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/quorvenda");
    const QString path = folder + QStringLiteral("/notification-icon-128.png");
    QImage cached;
    if (cached.load(path) && cached.size() == QSize(128, 128))
        return path;
    QByteArray png;
    QBuffer buffer(&png);
    if (!QDir().mkpath(folder) || !buffer.open(QIODevice::WriteOnly) || !appIconImage(128).save(&buffer, "PNG"))
        return name;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size() || !file.flush() || !file.commit())
        return name;
    return path;
}

QImage trayIconsOnPanel(const QColor& panel, int panelHeight)
{
    const int icon = std::max(16, panelHeight * 3 / 4);
    const int pitch = panelHeight + 8;
    struct State {
        std::optional<double> fraction;
        bool paused;
        double phase;
    };
    const State states[] = {{std::nullopt, false, 0}, {0.4, false, 0}, {-1.0, false, 0.2}, {std::nullopt, true, 0}};
    const QColor foregrounds[] = {QColor(0x10, 0x10, 0x10), QColor(0xF2, 0xF2, 0xF2)};
    QImage strip(pitch * 4 * 2 + 8, panelHeight, QImage::Format_ARGB32_Premultiplied);
    strip.fill(panel);
    QPainter painter(&strip);
    int x = 8;
    for (const QColor& foreground : foregrounds) {
        for (const State& state : states) {
            const QImage image = statusIconImage(state.fraction, state.paused, state.phase, icon, foreground);
            painter.drawImage(QPoint(x, (panelHeight - icon) / 2), image);
            x += pitch;
        }
    }
    return strip;
}

} // namespace qv

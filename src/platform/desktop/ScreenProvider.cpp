#include "platform/desktop/ScreenProvider.h"

#include "platform/desktop/ScreenCoordinates.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace qv {

namespace {

std::optional<QPoint>& pointerSeenInDrag()
{
    static std::optional<QPoint> point;
    return point;
}

std::optional<std::pair<Qt::Edge, int>>& reservedEdge()
{
    static std::optional<std::pair<Qt::Edge, int>> edge;
    return edge;
}

QRect withoutReservedEdge(QRect area)
{
    const auto& reserved = reservedEdge();
    if (!reserved)
        return area;
    const int thickness = reserved->second;
    switch (reserved->first) {
    case Qt::LeftEdge: return area.adjusted(thickness, 0, 0, 0);
    case Qt::RightEdge: return area.adjusted(0, 0, -thickness, 0);
    case Qt::TopEdge: return area.adjusted(0, thickness, 0, 0);
    case Qt::BottomEdge: return area.adjusted(0, 0, 0, -thickness);
    }
    return area;
}

class QtScreens : public ScreenProvider {
public:
    QList<ScreenInfo> screens() const override
    {
        QList<ScreenInfo> list;
        const double height = primaryHeight();
        QList<QScreen*> all = QGuiApplication::screens();
        QScreen* primary = QGuiApplication::primaryScreen();
        if (primary && all.removeOne(primary))
            all.prepend(primary);
        for (QScreen* screen : all)
            list.append(infoOf(screen, height));
        return list;
    }

    std::optional<ScreenInfo> mainScreen() const override
    {
        if (QScreen* primary = QGuiApplication::primaryScreen())
            return infoOf(primary, primaryHeight());
        return std::nullopt;
    }

    QPointF pointerLocation() const override
    {
        if (const std::optional<QPoint>& seen = pointerSeenInDrag())
            return flipY(QPointF(*seen), primaryHeight());
        return flipY(QPointF(QCursor::pos()), primaryHeight());
    }

    double primaryHeight() const override
    {
        QScreen* primary = QGuiApplication::primaryScreen();
        return primary ? primary->geometry().height() : 0.0;
    }

private:
    static ScreenInfo infoOf(QScreen* screen, double height)
    {
        return {flipY(QRectF(screen->geometry()), height),
                flipY(QRectF(withoutReservedEdge(screen->availableGeometry())), height),
                screen->devicePixelRatio()};
    }
};

} // namespace

const ScreenProvider& ScreenProvider::system()
{
    static const QtScreens screens;
    return screens;
}

std::optional<ScreenInfo> screenForPoint(std::optional<QPointF> point, const ScreenProvider& provider)
{
    const QPointF where = point.value_or(provider.pointerLocation());
    const QList<ScreenInfo> screens = provider.screens();
    for (const ScreenInfo& screen : screens) {
        // A point on the top or right edge still belongs to the screen, as on the other side.
        if (where.x() >= screen.frame.left() && where.x() <= screen.frame.right()
            && where.y() >= screen.frame.top() && where.y() <= screen.frame.bottom())
            return screen;
    }
    if (auto main = provider.mainScreen())
        return main;
    if (!screens.isEmpty())
        return screens.first();
    return std::nullopt;
}

void notePointerSeen(std::optional<QPoint> qtGlobal)
{
    pointerSeenInDrag() = qtGlobal;
}

void reserveScreenEdge(std::optional<Qt::Edge> edge, int thickness)
{
    if (edge)
        reservedEdge() = std::pair(*edge, thickness);
    else
        reservedEdge().reset();
}

} // namespace qv

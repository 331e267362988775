#include "platform/wayland/LayerShell.h"

#include "model/Log.h"

#include <QAbstractEventDispatcher>
#include <QGuiApplication>
#include <QHash>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

// The protocol names a parameter "namespace", a C++ keyword.
#define namespace layerNamespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

#include <cstring>

namespace qv {

namespace {

constexpr const char* layerShellInterface = "zwlr_layer_shell_v1";

bool isBypassWindow(const QWindow* window)
{
    // Qt's drag picture has the hint too, and takes its own role.
    return window->flags().testFlag(Qt::BypassWindowManagerHint)
        && !window->inherits("QShapedPixmapWindow");
}

uint32_t interactivity(LayerKeys keys)
{
    switch (keys) {
    case LayerKeys::none: return ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE;
    case LayerKeys::onDemand: return ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND;
    case LayerKeys::exclusive: return ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE;
    }
    return ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE;
}

QPlatformNativeInterface* native()
{
    return QGuiApplication::platformNativeInterface();
}

// The globals of a connection, bound on a queue of our own: Qt's reading thread never
// dispatches it, so a roundtrip here waits for our answers only.
class LayerShellClient : public QObject {
public:
    static LayerShellClient& shared()
    {
        static LayerShellClient* client = new LayerShellClient;
        return *client;
    }

    bool available() const { return m_shell != nullptr; }
    bool isKWin() const { return m_kwin; }

    struct Role {
        wl_surface* surface = nullptr;
        zwlr_layer_surface_v1* layer = nullptr;
        bool configured = false;
        LayerPlacement applied;
        std::optional<LayerPlacement> explicitPlacement;
        LayerKeys keys = LayerKeys::none;
        bool clearOfPanels = false;
    };

    void install()
    {
        if (m_installed || !available())
            return;
        m_installed = true;
        qApp->installEventFilter(this);
    }

    void setPlacement(QWindow* window, const LayerPlacement& placement)
    {
        Role& role = roleFor(window);
        role.explicitPlacement = placement;
        if (role.layer)
            apply(window, role, placement);
        else
            ensureRole(window);
    }

    void setKeys(QWindow* window, LayerKeys keys)
    {
        Role& role = roleFor(window);
        role.keys = keys;
        if (role.layer && !role.explicitPlacement)
            apply(window, role, placementOf(window, role));
    }

    void setClearOfPanels(QWindow* window, bool clear)
    {
        Role& role = roleFor(window);
        role.clearOfPanels = clear;
        if (role.layer && !role.explicitPlacement)
            apply(window, role, placementOf(window, role));
    }

    bool hasRole(QWindow* window) const
    {
        const auto it = m_roles.constFind(window);
        return it != m_roles.cend() && it->layer && it->configured;
    }

    void ensureRole(QWindow* window)
    {
        if (!available() || !window->isVisible() || !isBypassWindow(window))
            return;
        auto* surface = static_cast<wl_surface*>(native()->nativeResourceForWindow("surface", window));
        if (!surface)
            return;
        Role& role = roleFor(window);
        if (role.layer && role.surface == surface)
            return;
        dropLayer(role);
        const LayerPlacement placement = placementOf(window, role);
        wl_output* output = nullptr;
        if (placement.screen)
            output = static_cast<wl_output*>(native()->nativeResourceForScreen("output", placement.screen));
        role.surface = surface;
        role.layer = zwlr_layer_shell_v1_get_layer_surface(
            m_shell, surface, output,
            placement.belowOverlay ? ZWLR_LAYER_SHELL_V1_LAYER_TOP : ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
            "quorvenda");
        zwlr_layer_surface_v1_add_listener(role.layer, &layerListener, this);
        m_layers.insert(role.layer, window);
        role.applied = LayerPlacement{};
        role.applied.size = QSize(-1, -1); // nothing sent yet
        apply(window, role, placement);
    }

    void dropRole(QWindow* window)
    {
        auto it = m_roles.find(window);
        if (it != m_roles.end())
            dropLayer(*it);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!watched->isWindowType())
            return false;
        switch (event->type()) {
        case QEvent::Expose:
        case QEvent::UpdateRequest:
        case QEvent::Show: {
            auto* window = static_cast<QWindow*>(watched);
            if (isBypassWindow(window))
                ensureRole(window);
            break;
        }
        case QEvent::Move:
        case QEvent::Resize: {
            auto* window = static_cast<QWindow*>(watched);
            auto it = m_roles.find(window);
            if (it != m_roles.end() && it->layer)
                apply(window, *it, placementOf(window, *it));
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    LayerShellClient()
    {
        if (QGuiApplication::platformName() != QLatin1String("wayland"))
            return;
        m_display = static_cast<wl_display*>(native()->nativeResourceForIntegration("wl_display"));
        if (!m_display)
            return;
        m_queue = wl_display_create_queue(m_display);
        auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(m_display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), m_queue);
        wl_registry* registry = wl_display_get_registry(wrapper);
        wl_proxy_wrapper_destroy(wrapper);
        wl_registry_add_listener(registry, &registryListener, this);
        wl_display_roundtrip_queue(m_display, m_queue);
        wl_registry_destroy(registry);
        if (!m_shell)
            qCInfo(dragLog, "The compositor offers no layer surfaces");
        // Later configures and closes wait on our queue; Qt reads them off the socket.
        // Dispatched whenever the main loop is about to wait: no timer wakes it for them.
        if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
            connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
                if (!m_layers.isEmpty())
                    dispatchPending();
            });
    }

    Role& roleFor(QWindow* window)
    {
        auto it = m_roles.find(window);
        if (it == m_roles.end()) {
            it = m_roles.insert(window, Role{});
            QPointer<QWindow> guard(window);
            // Before Qt destroys the surface on hide: a layer outliving it is a protocol fault.
            connect(window, &QWindow::visibleChanged, this, [this, window](bool visible) {
                if (!visible)
                    dropRole(window);
            });
            connect(window, &QObject::destroyed, this, [this, window] {
                auto found = m_roles.find(window);
                if (found != m_roles.end()) {
                    dropLayer(*found);
                    m_roles.erase(found);
                }
            });
        }
        return *it;
    }

    LayerPlacement placementOf(QWindow* window, const Role& role) const
    {
        if (role.explicitPlacement)
            return *role.explicitPlacement;
        const QRect geometry = window->geometry();
        QScreen* screen = QGuiApplication::screenAt(geometry.center());
        if (!screen)
            screen = window->screen();
        LayerPlacement placement = LayerShell::placementAt(geometry, screen, role.clearOfPanels);
        placement.keys = role.keys;
        return placement;
    }

    void apply(QWindow* window, Role& role, const LayerPlacement& placement)
    {
        if (role.applied == placement && role.configured)
            return;
        zwlr_layer_surface_v1* layer = role.layer;
        zwlr_layer_surface_v1_set_size(layer, uint32_t(std::max(0, placement.size.width())),
                                       uint32_t(std::max(0, placement.size.height())));
        uint32_t anchors = 0;
        if (placement.anchors.testFlag(Qt::TopEdge))
            anchors |= ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP;
        if (placement.anchors.testFlag(Qt::BottomEdge))
            anchors |= ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM;
        if (placement.anchors.testFlag(Qt::LeftEdge))
            anchors |= ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT;
        if (placement.anchors.testFlag(Qt::RightEdge))
            anchors |= ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
        zwlr_layer_surface_v1_set_anchor(layer, anchors);
        zwlr_layer_surface_v1_set_margin(layer, placement.margins.top(), placement.margins.right(),
                                         placement.margins.bottom(), placement.margins.left());
        // Never pushes other surfaces aside; beside the panels that do, or where it is put.
        zwlr_layer_surface_v1_set_exclusive_zone(layer, placement.clearOfPanels ? 0 : -1);
        if (m_shellVersion >= 4) {
            zwlr_layer_surface_v1_set_keyboard_interactivity(layer, interactivity(placement.keys));
        } else {
            // Before version 4 there is no "on demand".
            zwlr_layer_surface_v1_set_keyboard_interactivity(
                layer, placement.keys == LayerKeys::exclusive ? 1 : 0);
        }
        role.applied = placement;
        wl_surface_commit(role.surface);
        // The first configure must be acknowledged before a buffer is attached; later ones
        // are taken as they come.
        if (!role.configured) {
            wl_display_roundtrip_queue(m_display, m_queue);
            if (!role.configured)
                qCWarning(dragLog, "A layer surface was not configured");
        } else {
            wl_display_flush(m_display);
        }
        Q_UNUSED(window);
    }

    void dropLayer(Role& role)
    {
        if (role.layer) {
            m_layers.remove(role.layer);
            zwlr_layer_surface_v1_destroy(role.layer);
            wl_display_flush(m_display);
        }
        role.layer = nullptr;
        role.surface = nullptr;
        role.configured = false;
    }

    void dispatchPending()
    {
        if (m_display && m_queue)
            wl_display_dispatch_queue_pending(m_display, m_queue);
    }

    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version)
    {
        auto* self = static_cast<LayerShellClient*>(data);
        // KWin's own shell; wlroots compositors offer a few KDE protocols too (server-side
        // decorations, idle), so those tell nothing.
        if (std::strcmp(interface, "org_kde_plasma_shell") == 0)
            self->m_kwin = true;
        if (std::strcmp(interface, layerShellInterface) == 0 && !self->m_shell) {
            self->m_shellVersion = std::min<uint32_t>(version, 4);
            self->m_shell = static_cast<zwlr_layer_shell_v1*>(
                wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, self->m_shellVersion));
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}

    static void configure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial,
                          uint32_t width, uint32_t height)
    {
        auto* self = static_cast<LayerShellClient*>(data);
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        QWindow* window = self->m_layers.value(layer);
        if (!window)
            return;
        auto it = self->m_roles.find(window);
        if (it == self->m_roles.end())
            return;
        it->configured = true;
        // A side held at both ends is as long as the compositor says.
        const QSize size{int(width), int(height)};
        if (width > 0 && height > 0 && window->size() != size)
            window->resize(size);
    }

    static void closed(void* data, zwlr_layer_surface_v1* layer)
    {
        auto* self = static_cast<LayerShellClient*>(data);
        QPointer<QWindow> window = self->m_layers.value(layer);
        // The output went away: the window shows again where the compositor puts it next.
        QTimer::singleShot(0, self, [window] {
            if (window)
                window->hide();
        });
    }

    static constexpr wl_registry_listener registryListener{&global, &globalRemove};
    static constexpr zwlr_layer_surface_v1_listener layerListener{&configure, &closed};

    wl_display* m_display = nullptr;
    wl_event_queue* m_queue = nullptr;
    zwlr_layer_shell_v1* m_shell = nullptr;
    uint32_t m_shellVersion = 0;
    bool m_installed = false;
    bool m_kwin = false;
    QHash<QWindow*, Role> m_roles;
    QHash<zwlr_layer_surface_v1*, QWindow*> m_layers;
};

} // namespace

bool LayerShell::isAvailable()
{
    return qApp && LayerShellClient::shared().available();
}

void LayerShell::install()
{
    if (isAvailable())
        LayerShellClient::shared().install();
}

void LayerShell::setPlacement(QWindow* window, const LayerPlacement& placement)
{
    if (isAvailable())
        LayerShellClient::shared().setPlacement(window, placement);
}

void LayerShell::setKeys(QWindow* window, LayerKeys keys)
{
    if (isAvailable())
        LayerShellClient::shared().setKeys(window, keys);
}

void LayerShell::setClearOfPanels(QWindow* window, bool clear)
{
    if (isAvailable())
        LayerShellClient::shared().setClearOfPanels(window, clear);
}

void LayerShell::ensureRole(QWindow* window)
{
    if (isAvailable())
        LayerShellClient::shared().ensureRole(window);
}

bool LayerShell::hasRole(QWindow* window)
{
    return isAvailable() && LayerShellClient::shared().hasRole(window);
}

bool LayerShell::keysReachDragTarget()
{
    return isAvailable() && LayerShellClient::shared().isKWin();
}

LayerPlacement LayerShell::placementAt(const QRect& geometry, QScreen* screen, bool clearOfPanels)
{
    LayerPlacement placement
        = placementAt(geometry, screen ? screen->geometry() : QRect(QPoint(), geometry.bottomRight()), clearOfPanels);
    placement.screen = screen;
    return placement;
}

LayerPlacement LayerShell::placementAt(const QRect& geometry, const QRect& screen, bool clearOfPanels)
{
    LayerPlacement placement;
    placement.size = geometry.size();
    placement.clearOfPanels = clearOfPanels;
    if (!clearOfPanels) {
        placement.anchors = Qt::TopEdge | Qt::LeftEdge;
        placement.margins = QMargins(geometry.x() - screen.x(), geometry.y() - screen.y(), 0, 0);
        return placement;
    }
    // From the nearest corner: a panel along that edge pushes the window in by its own width.
    const int left = geometry.left() - screen.left();
    const int right = screen.right() - geometry.right();
    const int top = geometry.top() - screen.top();
    const int bottom = screen.bottom() - geometry.bottom();
    placement.anchors = (left <= right ? Qt::LeftEdge : Qt::RightEdge) | (top <= bottom ? Qt::TopEdge : Qt::BottomEdge);
    placement.margins = QMargins(left <= right ? left : 0, top <= bottom ? top : 0, left <= right ? 0 : right,
                                 top <= bottom ? 0 : bottom);
    return placement;
}

bool LayerShell::compositorOffersLayers()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return false;
    bool offered = false;
    static constexpr wl_registry_listener listener{
        [](void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
            if (std::strcmp(interface, layerShellInterface) == 0)
                *static_cast<bool*>(data) = true;
        },
        [](void*, wl_registry*, uint32_t) {}};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &offered);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return offered;
}

} // namespace qv

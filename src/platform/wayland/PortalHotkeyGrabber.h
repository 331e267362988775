#pragma once

#include "platform/desktop/HotkeyGrabber.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace qv {

// The hot key in a Wayland session, through the desktop's GlobalShortcuts portal
// (org.freedesktop.portal.GlobalShortcuts): one session, the shortcut handed over both in
// CreateSession's options (KDE Plasma 5.27 registers it from there) and in BindShortcuts, and
// a press arrives as the Activated signal. The desktop may bind another key than the one
// asked for, or none until the user picks one in its settings. Where no portal offers
// GlobalShortcuts (GNOME before 48, wlroots desktops), the fallback takes the key instead.
class PortalHotkeyGrabber : public HotkeyGrabber {
    Q_OBJECT

public:
    // The fallback, when given, is owned.
    explicit PortalHotkeyGrabber(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                                 std::unique_ptr<HotkeyGrabber> fallback = {},
                                 QObject* parent = nullptr);
    ~PortalHotkeyGrabber() override;

    int install() override;
    int grab(const Shortcut& shortcut) override;
    void ungrab() override;
    QString grabName() const override;
    QString installName() const override;
    QString explain(int status) const override;

    // Whether the portal takes the key, rather than the fallback; known once ready() was sent.
    bool usesPortal() const { return m_probe == Probe::portal; }
    // The portal session, once CreateSession was answered.
    QString sessionHandle() const { return m_session; }

    // The shortcut in the portal's words: "ALT+SHIFT+space".
    static QString preferredTrigger(const Shortcut& shortcut);

    static const QString shortcutId; // "convert-copied"
    static constexpr int noPortal = -3; // no portal offers GlobalShortcuts
    static constexpr int noFallback = -4;
    static constexpr int unknownKey = -5; // the key has no name in the portal's words

Q_SIGNALS:
    // The portal answered whether it offers GlobalShortcuts, and the key went to it or to the
    // fallback.
    void ready();
    // The portal confirmed the binding; trigger is how the desktop describes the key, empty
    // when it bound none yet.
    void bound(const QString& trigger);

private Q_SLOTS:
    void onCreateSessionResponse(uint response, const QVariantMap& results);
    void onBindResponse(uint response, const QVariantMap& results);
    void onActivated(const QDBusMessage& message);

private:
    void probed(const QDBusMessage& reply);
    void createSession();
    void bindShortcuts();
    QVariant shortcutList() const;
    // Watches the Response of the request the next call makes, before it is made.
    QString expectResponse(const char* slot);
    void forgetRequest();

    QDBusConnection m_bus;
    std::unique_ptr<HotkeyGrabber> m_fallback;
    enum class Probe { notAsked, asking, portal, noPortal };
    Probe m_probe = Probe::notAsked;
    bool m_creating = false;
    QString m_session;
    QString m_requestPath;
    std::optional<Shortcut> m_wanted;
    std::optional<Shortcut> m_boundAs;
    int m_requests = 0;
};

} // namespace qv

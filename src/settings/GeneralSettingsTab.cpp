#include "settings/GeneralSettingsTab.h"

#include "model/errors/Error.h"
#include "model/operations/HexColor.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/DesktopSession.h"
#include "platform/desktop/LaunchAtLogin.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsBinder.h"
#include "settings/SettingsForm.h"
#include "settings/SettingsRules.h"
#include "settings/ShortcutRecorderView.h"
#include "widgets/ColorWell.h"
#include "widgets/SegmentedPicker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include <exception>

namespace qv {

namespace {

const QString defaultAccent = QStringLiteral("#4C6EF5");

} // namespace

GeneralSettingsTab::Services GeneralSettingsTab::Services::system()
{
    Services services;
    services.setLaunchAtLogin = [](bool enabled) { qv::setLaunchAtLogin(enabled); };
    services.launchAtLoginEnabled = [] {
        return launchAtLoginStatus() == LaunchAtLoginStatus::enabled;
    };
    services.keyboardControlAvailable = [] {
        // Of the Wayland compositors, only KWin lets keys reach us during another's drag.
        if (QGuiApplication::platformName() == QLatin1String("wayland"))
            return qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("KDE"));
        return qEnvironmentVariable("XDG_SESSION_TYPE") != QLatin1String("wayland");
    };
    services.hotkeyElsewhere = [] {
        Services::KeyElsewhere elsewhere;
        if (!DesktopSession::isWayland())
            return elsewhere;
        // XWayland sees keys only while one of its windows has the focus, and these desktops
        // offer no global shortcuts portal: the desktop runs our command on its own key.
        if (DesktopSession::isGnomeShell()) {
            elsewhere.how = QStringLiteral(
                "GNOME lends no global key to applications. In Settings → Keyboard → View and "
                "Customize Shortcuts → Custom Shortcuts, add a shortcut named “Convert Copied "
                "Files” with this command and the key you like (Alt+Shift+Space):");
            elsewhere.command = QStringLiteral("quorvenda --convert-copied");
        } else if (DesktopSession::isSway()) {
            elsewhere.how = QStringLiteral(
                "sway lends no global key to applications. Add this line to ~/.config/sway/config, "
                "then run “swaymsg reload”:");
            elsewhere.command = QStringLiteral("bindsym Mod1+Shift+space exec quorvenda --convert-copied");
        }
        return elsewhere;
    };
    return services;
}

GeneralSettingsTab::GeneralSettingsTab(SettingsStore& store, HotkeyCenter& hotkeys,
                                       Services services, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_services(std::move(services))
    , m_binder(new SettingsBinder(store, this))
{
    SettingsForm form(this);

    QFormLayout* login = form.addSection();
    m_launchAtLogin = new QCheckBox(QStringLiteral("Launch Quorvenda at login"), this);
    login->addRow(m_launchAtLogin);
    m_loginError = new QLabel(this);
    m_loginError->setWordWrap(true);
    QPalette red = m_loginError->palette();
    red.setColor(QPalette::WindowText, QColor(0xD0, 0x30, 0x30));
    m_loginError->setPalette(red);
    m_loginError->hide();
    login->addRow(m_loginError);
    connect(m_launchAtLogin, &QCheckBox::clicked, this, &GeneralSettingsTab::applyLaunchAtLogin);

    QFormLayout* triggers = form.addSection(QStringLiteral("While dragging files, tap"));
    const QList<std::pair<QString, QLatin1String>> wheels{
        {QStringLiteral("Convert wheel"), SettingsKey::triggerConvert},
        {QStringLiteral("Tools wheel"), SettingsKey::triggerTools},
        {QStringLiteral("Actions wheel"), SettingsKey::triggerActions}};
    for (int i = 0; i < 3; ++i) {
        auto* combo = new QComboBox(this);
        for (ModifierChoice choice : allCases<ModifierChoice>())
            combo->addItem(triggerChoiceText(choice), toString(choice));
        const QString key = wheels[i].second;
        m_binder->follow(key, [this, combo, key] {
            combo->setCurrentIndex(combo->findData(m_store.stringValue(key).value_or(QString())));
        });
        const auto wheel = static_cast<WheelKind>(i);
        connect(combo, &QComboBox::activated, this, [this, combo, wheel](int index) {
            setTriggerKey(m_store, wheel, combo->itemData(index).toString());
        });
        triggers->addRow(wheels[i].first, combo);
        m_triggers[i] = combo;
    }
    triggers->addRow(SettingsForm::caption(QStringLiteral(
        "Start dragging, tap the key, then drop on a segment. The key can be released; the "
        "wheel stays until you drop."), this));

    // Wayland sessions: no program sees another's drag, so drags are caught on a screen edge.
    QFormLayout* strip = form.addSection(QStringLiteral("Wayland sessions"));
    auto* edge = new QComboBox(this);
    const QList<std::pair<QString, QString>> edges{{QStringLiteral("Right"), QStringLiteral("right")},
                                                   {QStringLiteral("Left"), QStringLiteral("left")},
                                                   {QStringLiteral("Top"), QStringLiteral("top")},
                                                   {QStringLiteral("Bottom"), QStringLiteral("bottom")},
                                                   {QStringLiteral("Off"), QStringLiteral("off")}};
    for (const auto& [title, name] : edges)
        edge->addItem(title, name);
    m_binder->follow(SettingsKey::dragStripEdge, [this, edge] {
        const int index = edge->findData(m_store.stringValue(SettingsKey::dragStripEdge).value_or(QString()));
        edge->setCurrentIndex(index >= 0 ? index : edge->findData(QStringLiteral("off")));
    });
    connect(edge, &QComboBox::activated, this, [this, edge](int index) {
        m_store.setValue(SettingsKey::dragStripEdge, edge->itemData(index).toString());
    });
    strip->addRow(QStringLiteral("Catch drags at the screen edge"), edge);
    m_stripEdge = edge;
    auto* dwell = new QDoubleSpinBox(this);
    dwell->setRange(0, 3);
    dwell->setSingleStep(0.1);
    dwell->setDecimals(1);
    dwell->setSuffix(QStringLiteral(" s"));
    dwell->setSpecialValueText(QStringLiteral("Never"));
    m_binder->follow(SettingsKey::dragStripDwell, [this, dwell] {
        const QSignalBlocker quiet(dwell);
        dwell->setValue(m_store.doubleValue(SettingsKey::dragStripDwell));
    });
    connect(dwell, &QDoubleSpinBox::valueChanged, this,
            [this](double seconds) { m_store.setValue(SettingsKey::dragStripDwell, seconds); });
    strip->addRow(QStringLiteral("Open the first wheel after resting"), dwell);
    m_dwell = dwell;
    strip->addRow(SettingsForm::caption(QStringLiteral(
        "On KDE Plasma, sway and other wlroots desktops, drag files onto this edge of the "
        "screen, then tap the key (KDE Plasma) or rest there for a moment; rest on and the next "
        "wheel takes its place."), this));

    QFormLayout* keyboard = form.addSection(QStringLiteral("Keyboard"));
    auto* arrows = new QCheckBox(QStringLiteral("Choose with arrow keys and Return while dragging"), this);
    m_binder->bindCheckBox(arrows, SettingsKey::keyboardWhileDragging);
    keyboard->addRow(arrows);
    const bool keyboardAvailable =
        !m_services.keyboardControlAvailable || m_services.keyboardControlAvailable();
    m_keyboardCaption = SettingsForm::caption(
        QStringLiteral("Keyboard control of the wheel needs an X11 session or KDE Plasma."), this);
    keyboard->addRow(m_keyboardCaption);
    m_binder->follow(SettingsKey::keyboardWhileDragging, [this, keyboardAvailable] {
        m_keyboardCaption->setVisible(!keyboardAvailable
                                      && m_store.boolValue(SettingsKey::keyboardWhileDragging));
    });
    const Services::KeyElsewhere elsewhere =
        m_services.hotkeyElsewhere ? m_services.hotkeyElsewhere() : Services::KeyElsewhere{};
    if (elsewhere.how.isEmpty()) {
        m_recorder = new ShortcutRecorderView(hotkeys, store, this);
        keyboard->addRow(QStringLiteral("Convert Copied Files"), m_recorder);
    } else {
        auto* how = new QLabel(elsewhere.how, this);
        how->setWordWrap(true);
        keyboard->addRow(QStringLiteral("Convert Copied Files"), how);
        auto* row = new QWidget(this);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        m_hotkeyCommand = new QLineEdit(elsewhere.command, row);
        m_hotkeyCommand->setReadOnly(true);
        m_hotkeyCommand->setCursorPosition(0);
        auto* copy = new QPushButton(QStringLiteral("Copy"), row);
        copy->setAutoDefault(false);
        connect(copy, &QPushButton::clicked, this,
                [command = elsewhere.command] { QGuiApplication::clipboard()->setText(command); });
        rowLayout->addWidget(m_hotkeyCommand, 1);
        rowLayout->addWidget(copy);
        keyboard->addRow(QString(), row);
    }

    QFormLayout* appearance = form.addSection(QStringLiteral("Appearance"));
    auto* accentRow = new QWidget(this);
    auto* accentLayout = new QHBoxLayout(accentRow);
    accentLayout->setContentsMargins(0, 0, 0, 0);
    m_accent = new ColorWell(accentRow);
    m_accentReset = new QPushButton(QStringLiteral("Reset"), accentRow);
    m_accentReset->setAutoDefault(false);
    accentLayout->addWidget(m_accent);
    accentLayout->addWidget(m_accentReset);
    accentLayout->addStretch(1);
    m_binder->bindColor(m_accent, SettingsKey::accentColor, QColor(0x00, 0x7A, 0xFF));
    m_binder->follow(SettingsKey::accentColor, [this] {
        m_accentReset->setVisible(m_store.stringValue(SettingsKey::accentColor) != defaultAccent);
    });
    connect(m_accentReset, &QPushButton::clicked, this,
            [this] { m_store.setValue(SettingsKey::accentColor, defaultAccent); });
    appearance->addRow(QStringLiteral("Accent color"), accentRow);

    QList<OptionChoice> sizes;
    for (WheelSize size : allCases<WheelSize>()) {
        QString name = toString(size);
        sizes.append({name.left(1).toUpper() + name.mid(1), name});
    }
    auto* wheelSize = new SegmentedPicker(sizes, this);
    m_binder->bindSegmented(wheelSize, SettingsKey::wheelSize);
    appearance->addRow(QStringLiteral("Wheel size"), wheelSize);
    auto* sounds = new QCheckBox(QStringLiteral("Play sounds"), this);
    m_binder->bindCheckBox(sounds, SettingsKey::sounds);
    appearance->addRow(sounds);
    auto* hud = new QCheckBox(QStringLiteral("Show progress while converting"), this);
    m_binder->bindCheckBox(hud, SettingsKey::showHUD);
    appearance->addRow(hud);
    form.finish();

    refreshPermissions();
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            refreshPermissions();
    });
}

void GeneralSettingsTab::refreshPermissions()
{
    m_launchAtLogin->setChecked(m_services.launchAtLoginEnabled && m_services.launchAtLoginEnabled());
}

void GeneralSettingsTab::applyLaunchAtLogin(bool enabled)
{
    try {
        if (m_services.setLaunchAtLogin)
            m_services.setLaunchAtLogin(enabled);
        m_loginError->clear();
        m_loginError->hide();
    } catch (const Error& error) {
        m_loginError->setText(error.localizedDescription());
        m_loginError->show();
    } catch (const std::exception& error) {
        m_loginError->setText(QString::fromLocal8Bit(error.what()));
        m_loginError->show();
    }
    refreshPermissions();
}

} // namespace qv

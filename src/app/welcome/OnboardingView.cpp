#include "app/welcome/OnboardingView.h"

#include "app/tray/MenuActions.h"
#include "app/tray/StatusIcon.h"
#include "app/welcome/DemoView.h"
#include "app/welcome/TriggerCard.h"
#include "model/settings/ModifierGlyph.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/LaunchAtLogin.h"
#include "platform/settings/SettingsStore.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace qv {

namespace {

struct CardText {
    QLatin1String key;
    const char* fallback; // what a card shows before the setting was ever written
    const char* title;
    const char* subtitle;
};

const CardText cardTexts[] = {
    {SettingsKey::triggerConvert, "shift", "Convert", "Other formats"},
    {SettingsKey::triggerTools, "command", "Tools", "Compress, trim, crop…"},
    {SettingsKey::triggerActions, "control", "Actions", "Send to Device, copy, move…"},
};

} // namespace

OnboardingView::Services OnboardingView::defaultServices()
{
    Services services;
    services.store = &SettingsStore::shared();
    services.setLaunchAtLogin = [](bool enabled) { setLaunchAtLogin(enabled); };
    services.launchAtLoginEnabled = [] {
        return launchAtLoginStatus() == LaunchAtLoginStatus::enabled;
    };
    services.openSettings = [] { MenuActions::shared().openSettings(); };
    services.practice = PracticeArea::defaultServices();
    return services;
}

OnboardingView::OnboardingView(Services services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
{
    setFixedWidth(contentWidth);
    // The practice photo let go anywhere in the window lands on the window, which takes nothing
    // (a Wayland drop on no target at all is a warning in the log).
    setAcceptDrops(true);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(32, 28, 32, 22);
    column->setSpacing(18);

    // Header.
    auto* header = new QVBoxLayout;
    header->setSpacing(6);
    auto* icon = new QLabel(this);
    icon->setFixedSize(64, 64);
    icon->setPixmap(QPixmap::fromImage(
        statusIconImage(std::nullopt, false, 0, 64, palette().color(QPalette::WindowText))));
    header->addWidget(icon, 0, Qt::AlignHCenter);
    auto* title = new QLabel(QStringLiteral("Welcome to Quorvenda"), this);
    QFont titleFont = font();
    titleFont.setPixelSize(26);
    titleFont.setBold(true);
    title->setFont(titleFont);
    header->addWidget(title, 0, Qt::AlignHCenter);
    auto* subtitle = new QLabel(
        QStringLiteral(
            "Convert, edit and share files in the middle of a drag, without leaving your file manager."),
        this);
    QPalette secondary = subtitle->palette();
    QColor secondaryColor = palette().color(QPalette::WindowText);
    secondaryColor.setAlphaF(0.62f);
    secondary.setColor(QPalette::WindowText, secondaryColor);
    subtitle->setPalette(secondary);
    subtitle->setAlignment(Qt::AlignHCenter);
    subtitle->setWordWrap(true);
    header->addWidget(subtitle);
    column->addLayout(header);

    // The demonstration, the full width of the column.
    m_demo = new DemoView(this);
    m_demo->setFixedHeight(210);
    column->addWidget(m_demo);

    // The wheels and their keys.
    auto* cards = new QHBoxLayout;
    cards->setSpacing(12);
    for (const CardText& text : cardTexts) {
        auto* card = new TriggerCard(QString::fromUtf8(text.title),
                                     QString::fromUtf8(text.subtitle), this);
        m_cards.append(card);
        cards->addWidget(card, 1);
    }
    column->addLayout(cards);
    updateCards();
    connect(m_services.store, &SettingsStore::changed, this, [this](const QString& key) {
        for (const CardText& text : cardTexts) {
            if (key == text.key)
                updateCards();
        }
    });

    m_practice = new PracticeArea(m_services.practice, this);
    column->addWidget(m_practice);

    // Linux asks no permission to write beside a file: there is no note about it.

    auto* bottom = new QHBoxLayout;
    m_launchAtLogin = new QCheckBox(QStringLiteral("Launch at login"), this);
    m_launchAtLogin->setChecked(m_services.launchAtLoginEnabled && m_services.launchAtLoginEnabled());
    connect(m_launchAtLogin, &QCheckBox::clicked, this, &OnboardingView::applyLaunchAtLogin);
    bottom->addWidget(m_launchAtLogin);
    bottom->addStretch(1);
    m_settings = new QPushButton(QStringLiteral("Settings…"), this);
    m_settings->setAutoDefault(false);
    connect(m_settings, &QPushButton::clicked, this, [this] {
        if (m_services.openSettings)
            m_services.openSettings();
    });
    bottom->addWidget(m_settings);
    m_done = new QPushButton(QStringLiteral("Done"), this);
    m_done->setDefault(true);
    connect(m_done, &QPushButton::clicked, this, &OnboardingView::doneRequested);
    bottom->addWidget(m_done);
    column->addLayout(bottom);

    for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, m_done, &QPushButton::click);
    }
}

QStringList OnboardingView::cardKeys() const
{
    QStringList keys;
    for (const TriggerCard* card : m_cards)
        keys.append(card->keyText());
    return keys;
}

void OnboardingView::updateCards()
{
    int rests = 0;
    for (int i = 0; i < m_cards.size(); ++i) {
        const CardText& text = cardTexts[i];
        const QString raw = m_services.store->stringValue(text.key)
                                .value_or(QString::fromLatin1(text.fallback));
        const std::optional<ModifierChoice> choice = enumFromString<ModifierChoice>(raw);
        const QString glyph = choice ? modifierGlyph(*choice) : QString();
        // Where drags hear no keys, each wheel that has one comes after one more rest.
        if (m_services.practice.opensByRest && !glyph.isEmpty()) {
            ++rests;
            m_cards[i]->setKey(rests == 1 ? QStringLiteral("Rest") : QStringLiteral("Rest ×%1").arg(rests));
        } else {
            m_cards[i]->setKey(glyph);
        }
    }
}

void OnboardingView::applyLaunchAtLogin(bool enabled)
{
    try {
        if (m_services.setLaunchAtLogin)
            m_services.setLaunchAtLogin(enabled);
    } catch (...) {
        // The switch shows the real state below; nothing more to say.
    }
    m_launchAtLogin->setChecked(m_services.launchAtLoginEnabled && m_services.launchAtLoginEnabled());
}

} // namespace qv

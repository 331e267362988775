#include "app/welcome/OnboardingWindowController.h"

#include "app/tray/MenuActions.h"
#include "model/settings/SettingsKeys.h"
#include "platform/settings/SettingsStore.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

namespace qv {

OnboardingWindowController::OnboardingWindowController(OnboardingView::Services services,
                                                       QObject* parent)
    : QObject(parent)
    , m_store(services.store)
{
    m_view = std::make_unique<OnboardingView>(std::move(services));
    m_view->setWindowTitle(QStringLiteral("Welcome to Quorvenda"));
    m_view->setAttribute(Qt::WA_DeleteOnClose, false);
    m_view->installEventFilter(this);
    connect(m_view.get(), &OnboardingView::doneRequested, m_view.get(), &QWidget::close);
}

OnboardingWindowController::~OnboardingWindowController() = default;

OnboardingWindowController& OnboardingWindowController::shared()
{
    static auto* controller = new OnboardingWindowController(OnboardingView::defaultServices());
    return *controller;
}

void OnboardingWindowController::installMenuHook(
    MenuActions& actions, std::function<OnboardingWindowController&()> controller)
{
    MenuActions::Hooks hooks = actions.hooks();
    hooks.showOnboarding = [controller = std::move(controller)] { controller().show(); };
    actions.setHooks(std::move(hooks));
}

void OnboardingWindowController::show()
{
    OnboardingView* window = m_view.get();
    if (!window)
        return;
    if (!window->isVisible()) {
        window->adjustSize();
        QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->availableGeometry();
            // The content is centred: a frame's size is only known once the window is up.
            QRect content(QPoint(), window->size());
            content.moveCenter(area.center());
            window->setGeometry(content);
        }
        window->show();
    }
    window->raise();
    window->activateWindow();
}

bool OnboardingWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view.get() && event->type() == QEvent::Close && m_store)
        m_store->setValue(SettingsKey::onboardingDone, true);
    return QObject::eventFilter(watched, event);
}

} // namespace qv

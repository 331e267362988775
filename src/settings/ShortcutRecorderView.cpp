#include "settings/ShortcutRecorderView.h"

#include "graphics/SymbolTable.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsForm.h"
#include "settings/SettingsRules.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace qv {

namespace {

bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return true;
    default:
        return false;
    }
}

} // namespace

ShortcutRecorderView::ShortcutRecorderView(HotkeyCenter& hotkeys, SettingsStore& store, QWidget* parent)
    : QWidget(parent)
    , beep([] { QApplication::beep(); })
    , m_hotkeys(hotkeys)
    , m_store(store)
    , m_shortcut(hotkeys.storedShortcut())
    , m_button(new QPushButton(this))
    , m_clear(new QToolButton(this))
    , m_conflict(SettingsForm::caption(conflictText(), this))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    m_button->setMinimumWidth(110);
    m_button->setAutoDefault(false);
    m_button->setFocusPolicy(Qt::StrongFocus);
    m_clear->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill")));
    m_clear->setToolTip(QStringLiteral("Clear"));
    m_clear->setAccessibleName(QStringLiteral("Clear"));
    m_clear->setAutoRaise(true);
    row->addWidget(m_button);
    row->addWidget(m_clear);
    row->addStretch(1);
    column->addLayout(row);
    QPalette warning = m_conflict->palette();
    warning.setColor(QPalette::WindowText, QColor(0xD0, 0x30, 0x30));
    m_conflict->setPalette(warning);
    column->addWidget(m_conflict);

    connect(m_button, &QPushButton::clicked, this, &ShortcutRecorderView::toggleRecording);
    connect(m_clear, &QToolButton::clicked, this, &ShortcutRecorderView::clearShortcut);
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        if (key != SettingsKey::convertHotkey || m_recording)
            return;
        m_shortcut = m_hotkeys.storedShortcut();
        updateLabel();
        // An import or a reset registers the key right after storing it.
        QTimer::singleShot(0, this, [this] { updateConflict(); });
    });
    updateLabel();
    updateConflict();
}

ShortcutRecorderView::~ShortcutRecorderView()
{
    if (m_monitoring)
        qApp->removeEventFilter(this);
}

QString ShortcutRecorderView::conflictText()
{
    return QStringLiteral("This shortcut is used by another application");
}

void ShortcutRecorderView::toggleRecording()
{
    if (m_recording)
        stopRecording();
    else
        startRecording();
}

void ShortcutRecorderView::startRecording()
{
    m_recording = true;
    m_hotkeys.unregisterHotkey();
    if (!m_monitoring) {
        qApp->installEventFilter(this);
        m_monitoring = true;
    }
    updateLabel();
    updateConflict();
}

void ShortcutRecorderView::stopRecording()
{
    if (m_monitoring) {
        qApp->removeEventFilter(this);
        m_monitoring = false;
    }
    if (m_recording) {
        m_recording = false;
        m_hotkeys.registerHotkey();
    }
    updateLabel();
    updateConflict();
}

void ShortcutRecorderView::clearShortcut()
{
    m_shortcut.reset();
    m_hotkeys.setShortcut(std::nullopt);
    updateLabel();
    updateConflict();
}

void ShortcutRecorderView::handleRecordedKey(const QKeyEvent& event)
{
    const int key = event.key();
    if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
        m_shortcut.reset();
        m_hotkeys.setShortcut(std::nullopt);
        stopRecording();
        return;
    }
    if (key == Qt::Key_Escape) {
        stopRecording();
        return;
    }
    // A modifier on its own is the start of a combination, not a key.
    if (isModifierKey(key))
        return;
    const std::optional<Shortcut> recorded = Shortcut::fromKeyEvent(event);
    if (!recorded) {
        if (beep)
            beep();
        return;
    }
    m_shortcut = recorded;
    m_hotkeys.setShortcut(recorded);
    stopRecording();
}

bool ShortcutRecorderView::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_recording)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Taken here, so no window shortcut (Ctrl+W, Escape) fires while recording.
        event->accept();
        return true;
    case QEvent::KeyPress: {
        // Taken at its first receiver, so it goes nowhere else.
        auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat())
            handleRecordedKey(*key);
        return true;
    }
    case QEvent::KeyRelease:
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void ShortcutRecorderView::hideEvent(QHideEvent* event)
{
    stopRecording();
    QWidget::hideEvent(event);
}

void ShortcutRecorderView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateConflict();
}

void ShortcutRecorderView::updateLabel()
{
    QString text;
    if (m_recording)
        text = QStringLiteral("Type shortcut\u2026");
    else if (m_shortcut)
        text = shortcutDisplayString(*m_shortcut);
    else
        text = QStringLiteral("None");
    m_button->setText(text);
    QPalette palette = m_button->palette();
    palette.setColor(QPalette::ButtonText,
                     m_recording ? palette.color(QPalette::Highlight)
                                 : QApplication::palette(m_button).color(QPalette::ButtonText));
    m_button->setPalette(palette);
    m_clear->setVisible(m_shortcut.has_value() && !m_recording);
}

void ShortcutRecorderView::updateConflict()
{
    const std::optional<Shortcut> stored = m_hotkeys.storedShortcut();
    const bool refused = !m_recording && stored && m_hotkeys.registeredShortcut() != stored;
    m_conflict->setVisible(refused);
}

} // namespace qv

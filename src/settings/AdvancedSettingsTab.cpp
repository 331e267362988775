#include "settings/AdvancedSettingsTab.h"

#include "jobs/JobCenter.h"
#include "model/files/ByteCount.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/ThreadCall.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsBinder.h"
#include "settings/SettingsForm.h"
#include "settings/SettingsPanels.h"
#include "settings/SettingsRules.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>

namespace qv {

AdvancedSettingsTab::Services AdvancedSettingsTab::Services::system(SettingsStore& store,
                                                                    SettingsPanels& panels)
{
    Services services;
    services.store = &store;
    services.panels = &panels;
    services.registerHotkey = [] { HotkeyCenter::shared().registerHotkey(); };
    services.activeJobCount = [] { return int(JobCenter::shared().activeJobs().size()); };
    services.purgeTemporaryItems = [](double age) { return qv::purgeTemporaryItems(age); };
    services.temporaryRootSize = [] { return qv::temporaryRootSize(); };
    return services;
}

AdvancedSettingsTab::AdvancedSettingsTab(Services services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
    , m_commands({m_services.store, m_services.panels, m_services.registerHotkey})
    , m_binder(new SettingsBinder(*m_services.store, this))
{
    SettingsStore& store = *m_services.store;
    SettingsForm form(this);

    QFormLayout* jobs = form.addSection(QStringLiteral("Parallel jobs"));
    const auto stepper = [&](const QString& text, const QString& key, int maximum) {
        auto* row = new QWidget(this);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* label = new QLabel(row);
        auto* spin = new QSpinBox(row);
        spin->setRange(1, maximum);
        layout->addWidget(label, 1);
        layout->addWidget(spin);
        m_binder->bindSpinBox(spin, key);
        m_binder->follow(key, [label, text, &store, key] {
            label->setText(text + QString::number(store.intValue(key)) + QStringLiteral(" at a time"));
        });
        connect(spin, &QSpinBox::valueChanged, label, [label, text](int value) {
            label->setText(text + QString::number(value) + QStringLiteral(" at a time"));
        });
        jobs->addRow(row);
        return spin;
    };
    m_cpu = stepper(QStringLiteral("Images, PDFs and documents: "), SettingsKey::cpuJobs, maxCpuJobs());
    stepper(QStringLiteral("Video: "), SettingsKey::videoJobs, 4);
    stepper(QStringLiteral("Audio: "), SettingsKey::audioJobs, 8);
    form.addFooter(QStringLiteral(
        "Video encoding keeps every processor busy, so one video at a time is usually fastest."));

    QFormLayout* actions = form.addSection(QStringLiteral("Actions"));
    auto* terminalRow = new QWidget(this);
    auto* terminalLayout = new QHBoxLayout(terminalRow);
    terminalLayout->setContentsMargins(0, 0, 0, 0);
    m_terminalName = SettingsForm::caption(QString(), terminalRow);
    m_terminalName->setFont(font());
    auto* choose = new QPushButton(QStringLiteral("Choose\u2026"), terminalRow);
    choose->setAutoDefault(false);
    m_terminalReset = new QPushButton(QStringLiteral("Reset"), terminalRow);
    m_terminalReset->setAutoDefault(false);
    terminalLayout->addWidget(m_terminalName, 1);
    terminalLayout->addWidget(choose);
    terminalLayout->addWidget(m_terminalReset);
    actions->addRow(QStringLiteral("Terminal app"), terminalRow);
    m_binder->follow(SettingsKey::terminalApp, [this, &store] {
        const QString path = store.stringValue(SettingsKey::terminalApp).value_or(QString());
        // Nothing chosen: the first of x-terminal-emulator, gnome-terminal, konsole, xfce4-terminal, xterm.
        m_terminalName->setText(path.isEmpty() ? QStringLiteral("The desktop's terminal") : terminalDisplayName(path));
        m_terminalName->setToolTip(path);
        m_terminalReset->setVisible(!path.isEmpty());
    });
    connect(choose, &QPushButton::clicked, this, &AdvancedSettingsTab::chooseTerminalApp);
    connect(m_terminalReset, &QPushButton::clicked, this,
            [&store] { store.setValue(SettingsKey::terminalApp, QString()); });

    QFormLayout* maintenance = form.addSection(QStringLiteral("Maintenance"));
    auto* tempRow = new QWidget(this);
    auto* tempLayout = new QHBoxLayout(tempRow);
    tempLayout->setContentsMargins(0, 0, 0, 0);
    m_tempSizeLabel = SettingsForm::caption(temporaryFilesText(0), tempRow);
    m_tempSizeLabel->setFont(font());
    m_cleanUp = new QPushButton(QStringLiteral("Clean Up Now"), tempRow);
    m_cleanUp->setAutoDefault(false);
    tempLayout->addWidget(m_tempSizeLabel, 1);
    tempLayout->addWidget(m_cleanUp);
    maintenance->addRow(QStringLiteral("Temporary files"), tempRow);
    connect(m_cleanUp, &QPushButton::clicked, this, &AdvancedSettingsTab::cleanUpTemporaryFiles);

    auto* settingsRow = new QWidget(this);
    auto* settingsLayout = new QHBoxLayout(settingsRow);
    settingsLayout->setContentsMargins(0, 0, 0, 0);
    for (const auto& [title, command] :
         {std::pair{QStringLiteral("Export\u2026"), &AdvancedSettingsTab::exportSettings},
          std::pair{QStringLiteral("Import\u2026"), &AdvancedSettingsTab::importSettings},
          std::pair{QStringLiteral("Reset\u2026"), &AdvancedSettingsTab::performReset}}) {
        auto* button = new QPushButton(title, settingsRow);
        button->setAutoDefault(false);
        settingsLayout->addWidget(button);
        connect(button, &QPushButton::clicked, this, command);
    }
    settingsLayout->addStretch(1);
    maintenance->addRow(QStringLiteral("Settings"), settingsRow);
    m_messageLabel = SettingsForm::caption(QString(), this);
    m_messageLabel->hide();
    maintenance->addRow(m_messageLabel);
    form.finish();
}

QString AdvancedSettingsTab::temporaryFilesText(qint64 bytes)
{
    // "Zero KB" of nothing reads as a measurement; there is simply nothing to clean up.
    return bytes > 0 ? formatByteCount(bytes) : QStringLiteral("none");
}

void AdvancedSettingsTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refreshTempSize();
}

void AdvancedSettingsTab::setMessage(const std::optional<QString>& message)
{
    if (!message)
        return;
    m_message = message;
    m_messageLabel->setText(*message);
    m_messageLabel->show();
}

void AdvancedSettingsTab::setTempSize(qint64 bytes)
{
    m_tempSize = bytes;
    m_tempSizeLabel->setText(temporaryFilesText(bytes));
}

void AdvancedSettingsTab::refreshTempSize()
{
    if (!m_services.temporaryRootSize)
        return;
    ++m_busy;
    const QPointer<AdvancedSettingsTab> self(this);
    runInBackground([self, size = m_services.temporaryRootSize] {
        const qint64 bytes = size();
        postToMainThread([self, bytes] {
            if (!self)
                return;
            --self->m_busy;
            self->setTempSize(bytes);
        });
    }, QThread::HighPriority);
}

void AdvancedSettingsTab::chooseTerminalApp()
{
    const std::optional<QString> path = m_services.panels->chooseApplication(window());
    if (path && !path->isEmpty())
        m_services.store->setValue(SettingsKey::terminalApp, *path);
}

void AdvancedSettingsTab::cleanUpTemporaryFiles()
{
    // Work of a running job is spared twice over: by its age, and because the purge never
    // takes a folder still registered as live.
    const double age = cleanUpMinimumAge(m_services.activeJobCount ? m_services.activeJobCount() : 0);
    ++m_busy;
    m_cleanUp->setEnabled(false);
    const QPointer<AdvancedSettingsTab> self(this);
    runInBackground([self, age, purge = m_services.purgeTemporaryItems,
                     size = m_services.temporaryRootSize] {
        const int removed = purge ? purge(age) : 0;
        const qint64 bytes = size ? size() : 0;
        postToMainThread([self, removed, bytes] {
            if (!self)
                return;
            --self->m_busy;
            self->m_cleanUp->setEnabled(true);
            self->setTempSize(bytes);
            self->setMessage(removedItemsMessage(removed));
        });
    }, QThread::HighPriority);
}

void AdvancedSettingsTab::exportSettings()
{
    setMessage(m_commands.exportSettings(window()));
}

void AdvancedSettingsTab::importSettings()
{
    setMessage(m_commands.importSettings(window()));
}

void AdvancedSettingsTab::performReset()
{
    setMessage(m_commands.resetSettings(window()));
}

} // namespace qv

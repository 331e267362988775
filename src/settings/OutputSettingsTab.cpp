#include "settings/OutputSettingsTab.h"

#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "model/settings/SettingsSnapshot.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsBinder.h"
#include "settings/SettingsForm.h"
#include "settings/SettingsPanels.h"
#include "settings/SettingsRules.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace qv {

namespace {

// A folder row: the path (or a placeholder) and "Choose…".
QWidget* makeFolderRow(QWidget* parent, QLabel** text, QPushButton** choose)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    *text = new QLabel(row);
    (*text)->setTextFormat(Qt::PlainText);
    (*text)->setMinimumWidth(120);
    (*text)->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    *choose = new QPushButton(QStringLiteral("Choose\u2026"), row);
    (*choose)->setAutoDefault(false);
    layout->addWidget(*text, 1);
    layout->addWidget(*choose);
    return row;
}

// Shows a path truncated in the middle, or the placeholder in secondary text.
void showPath(QLabel* label, const QString& path, const QString& placeholder)
{
    const bool empty = path.isEmpty();
    const QString text = empty ? placeholder : tildePath(path);
    const int width = std::max(label->width(), 200);
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, width));
    label->setToolTip(empty ? QString() : path);
    QPalette palette = label->palette();
    QColor color = label->parentWidget()->palette().color(QPalette::WindowText);
    if (empty)
        color.setAlphaF(0.6f);
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QString folderPath(const QUrl& folder)
{
    QString path = folder.toLocalFile();
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

OutputSettingsTab::OutputSettingsTab(SettingsStore& store, SettingsPanels& panels, QWidget* parent)
    : QWidget(parent), m_store(store), m_panels(panels), m_binder(new SettingsBinder(store, this))
{
    SettingsForm form(this);

    QFormLayout* place = form.addSection();
    auto* choices = new QWidget(this);
    auto* choicesLayout = new QVBoxLayout(choices);
    choicesLayout->setContentsMargins(0, 0, 0, 0);
    m_beside = new QRadioButton(QStringLiteral("Next to the original"), choices);
    m_inFolder = new QRadioButton(QStringLiteral("Always in a folder"), choices);
    choicesLayout->addWidget(m_beside);
    choicesLayout->addWidget(m_inFolder);
    place->addRow(QStringLiteral("Save results"), choices);
    auto* group = new QButtonGroup(this);
    group->addButton(m_beside);
    group->addButton(m_inFolder);
    connect(m_beside, &QRadioButton::clicked, this, [this] {
        m_store.setValue(SettingsKey::outputLocation, toString(SaveLocation::besideOriginal));
    });
    connect(m_inFolder, &QRadioButton::clicked, this, [this] {
        m_store.setValue(SettingsKey::outputLocation, toString(SaveLocation::folder));
    });

    QPushButton* chooseOutput = nullptr;
    m_folderRow = makeFolderRow(this, &m_folderText, &chooseOutput);
    place->addRow(QStringLiteral("Folder"), m_folderRow);
    connect(chooseOutput, &QPushButton::clicked, this,
            [this] { chooseFolder(SettingsKey::outputFolder); });
    QPushButton* chooseFallback = nullptr;
    QWidget* fallback = makeFolderRow(this, &m_fallbackText, &chooseFallback);
    place->addRow(QStringLiteral("When that isn't possible"), fallback);
    connect(chooseFallback, &QPushButton::clicked, this,
            [this] { chooseFolder(SettingsKey::fallbackFolder); });

    m_binder->follow(SettingsKey::outputLocation, [this, place] {
        const QString location = m_store.stringValue(SettingsKey::outputLocation).value_or(QString());
        // A stored name of neither choice marks none.
        m_beside->group()->setExclusive(false);
        m_beside->setChecked(location == toString(SaveLocation::besideOriginal));
        m_inFolder->setChecked(location == toString(SaveLocation::folder));
        m_beside->group()->setExclusive(true);
        place->setRowVisible(m_folderRow, location == toString(SaveLocation::folder));
    });
    m_binder->follow(SettingsKey::outputFolder, [this] {
        showPath(m_folderText, m_store.stringValue(SettingsKey::outputFolder).value_or(QString()),
                 QStringLiteral("Choose a folder"));
    });
    m_binder->follow(SettingsKey::fallbackFolder, [this] {
        showPath(m_fallbackText, m_store.stringValue(SettingsKey::fallbackFolder).value_or(QString()),
                 tildePath(folderPath(defaultFallbackFolder(m_store))));
    });
    form.addFooter(QStringLiteral(
        "Originals are never changed. Files dropped from other apps, like a browser or a mail "
        "program, and folders Quorvenda can't write to, use the fallback folder."));

    QFormLayout* after = form.addSection(QStringLiteral("After converting"));
    const QList<std::pair<QString, QLatin1String>> toggles{
        {QStringLiteral("Keep metadata (camera, location, dates)"), SettingsKey::preserveMetadata},
        {QStringLiteral("Give results the original's file dates"), SettingsKey::preserveDates},
        {QStringLiteral("Open the result"), SettingsKey::openResult},
        {QStringLiteral("Show the result in your file manager"), SettingsKey::revealResult}};
    for (const auto& [title, key] : toggles) {
        auto* box = new QCheckBox(title, this);
        m_binder->bindCheckBox(box, key);
        after->addRow(box);
    }

    QFormLayout* names = form.addSection();
    auto* disclosure = new QToolButton(this);
    disclosure->setText(QStringLiteral("Name suffixes for tools"));
    disclosure->setCheckable(true);
    disclosure->setChecked(false);
    disclosure->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclosure->setArrowType(Qt::RightArrow);
    disclosure->setAutoRaise(true);
    names->addRow(disclosure);
    auto* table = new QWidget(this);
    auto* tableForm = new QFormLayout(table);
    tableForm->setContentsMargins(12, 0, 0, 0);
    tableForm->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The map sorts by operation name: "addBackground" first, "unlock" last.
    const QMap<QString, QString>& defaults = SettingsSnapshot::defaultSuffixes();
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        auto* field = new QLineEdit(table);
        field->setFixedWidth(180);
        field->setAlignment(Qt::AlignRight);
        field->setPlaceholderText(it.value());
        const QString operation = it.key();
        connect(field, &QLineEdit::textEdited, this, [this, operation](const QString& text) {
            saveSuffix(m_store, operation, text);
        });
        tableForm->addRow(humanizedOperationName(operation), field);
        m_suffixFields.insert(operation, field);
    }
    table->setVisible(false);
    names->addRow(table);
    connect(disclosure, &QToolButton::toggled, this, [disclosure, table](bool open) {
        disclosure->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        table->setVisible(open);
    });
    m_example = SettingsForm::caption(QString(), this);
    names->addRow(m_example);
    // Followed, not read once: a reset or an import must show at once, and the next edit must
    // not store the old words again.
    m_binder->follow(SettingsKey::suffixes, [this] { showSuffixes(); });
    form.finish();
}

void OutputSettingsTab::showSuffixes()
{
    for (auto it = m_suffixFields.cbegin(); it != m_suffixFields.cend(); ++it) {
        const QString text = suffixFieldText(m_store, it.key());
        // Left alone while it already reads so: the cursor stays where the user types.
        if (it.value()->text() != text)
            it.value()->setText(text);
    }
    m_example->setText(suffixExampleLine(effectiveSuffixes(m_store).value(QStringLiteral("compress"))));
}

void OutputSettingsTab::chooseFolder(const QString& key)
{
    const QString current = m_store.stringValue(key).value_or(QString());
    const std::optional<QString> folder = m_panels.chooseFolder(window(), current);
    if (folder && !folder->isEmpty())
        m_store.setValue(key, *folder);
}

} // namespace qv

#include "settings/WheelsSettingsTab.h"

#include "catalogue/ToolRegistry.h"
#include "graphics/SymbolTable.h"
#include "model/settings/SettingsReaders.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsForm.h"
#include "settings/WheelPreview.h"
#include "widgets/SegmentedPicker.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace qv {

namespace {

constexpr int idRole = Qt::UserRole;

} // namespace

WheelsSettingsTab::WheelsSettingsTab(SettingsStore& store, const ToolRegistry& registry, QWidget* parent)
    : QWidget(parent), m_store(store), m_registry(registry)
{
    SettingsForm form(this);
    QFormLayout* pick = form.addSection();
    m_categoryPicker = new QComboBox(this);
    for (FileCategory category : wheelSettingsCategories())
        m_categoryPicker->addItem(title(category), toString(category));
    pick->addRow(QStringLiteral("Files"), m_categoryPicker);
    m_wheelPicker = new SegmentedPicker({{QStringLiteral("Convert"), toString(WheelKind::convert)},
                                         {QStringLiteral("Tools"), toString(WheelKind::tools)}},
                                        this);
    m_wheelPicker->setCurrentValue(toString(m_wheel));
    pick->addRow(QStringLiteral("Wheel"), m_wheelPicker);
    connect(m_categoryPicker, &QComboBox::activated, this, [this](int index) {
        setCategory(wheelSettingsCategories().value(index, FileCategory::image));
    });
    connect(m_wheelPicker, &SegmentedPicker::activated, this, [this](const QVariant& value) {
        setWheel(enumFromString<WheelKind>(value.toString()).value_or(WheelKind::convert));
    });

    QFormLayout* ring = form.addSection(QStringLiteral("First ring"));
    auto* row = new QWidget(this);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(18);
    m_list = new QListWidget(row);
    m_list->setMinimumHeight(260);
    m_list->setDragDropMode(QAbstractItemView::InternalMove);
    m_list->setDefaultDropAction(Qt::MoveAction);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_preview = new WheelPreview(store, row);
    m_preview->setFixedSize(170, 190);
    rowLayout->addWidget(m_list, 1);
    rowLayout->addWidget(m_preview, 0, Qt::AlignTop);
    ring->addRow(row);
    auto* bottom = new QWidget(this);
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->addWidget(SettingsForm::caption(QStringLiteral(
        "Up to 8 checked items, in this order. The rest stay one hover away under More."), bottom), 1);
    auto* restore = new QPushButton(QStringLiteral("Restore Defaults"), bottom);
    restore->setAutoDefault(false);
    bottomLayout->addWidget(restore);
    ring->addRow(bottom);
    form.finish();

    connect(restore, &QPushButton::clicked, this, &WheelsSettingsTab::restoreDefaults);
    connect(m_list, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const int index = m_list->row(item);
        if (index < 0 || index >= m_items.size())
            return;
        const bool on = item->checkState() == Qt::Checked;
        if (m_items[index].isOn == on)
            return;
        // The list is rebuilt, so not while the clicked item is still handling its click.
        QTimer::singleShot(0, this, [this, index, on] {
            if (!setItemChecked(index, on))
                showItems();
        });
    });
    // A drag in the list moves the row in the widget first; the order is read from it after.
    connect(m_list->model(), &QAbstractItemModel::rowsMoved, this, [this] {
        QTimer::singleShot(0, this, [this] { readListOrder(); });
    });
    // Another window's change of this wheel's order (an import, a reset) shows at once.
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        if (m_showing && !m_saving && key == wheelOrderKey(m_wheel, m_category))
            loadItems();
    });
}

void WheelsSettingsTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_showing = true;
    loadItems();
}

void WheelsSettingsTab::setCategory(FileCategory category)
{
    m_category = category;
    m_categoryPicker->setCurrentIndex(int(wheelSettingsCategories().indexOf(category)));
    loadItems();
}

void WheelsSettingsTab::setWheel(WheelKind wheel)
{
    m_wheel = wheel;
    m_wheelPicker->setCurrentValue(toString(wheel));
    m_preview->setWheel(wheel);
    loadItems();
}

void WheelsSettingsTab::loadItems()
{
    const QList<WheelItem> items =
        wheelItems(m_registry.descriptorsForCategory(m_wheel, m_category),
                   defaultWheelItems(m_wheel, m_category),
                   m_store.stringListValue(wheelOrderKey(m_wheel, m_category)));
    if (items == m_items && m_list->count() == m_items.size())
        return;
    m_items = items;
    showItems();
    saveItems();
}

void WheelsSettingsTab::saveItems()
{
    // The list keeps the user's order of unchecked items; only a change from elsewhere reloads.
    const QScopedValueRollback saving(m_saving, true);
    saveWheelItems(m_store, m_wheel, m_category, m_items, defaultWheelItems(m_wheel, m_category));
}

void WheelsSettingsTab::restoreDefaults()
{
    m_store.remove(wheelOrderKey(m_wheel, m_category));
    loadItems();
}

void WheelsSettingsTab::moveItem(int from, int to)
{
    if (from < 0 || from >= m_items.size() || to < 0 || to >= m_items.size() || from == to)
        return;
    m_items.move(from, to);
    showItems();
    saveItems();
}

bool WheelsSettingsTab::setItemChecked(int index, bool on)
{
    if (index < 0 || index >= m_items.size())
        return false;
    if (m_items[index].isOn == on)
        return true;
    if (on && !isWheelItemCheckable(m_items, index))
        return false;
    m_items[index].isOn = on;
    showItems();
    saveItems();
    return true;
}

void WheelsSettingsTab::readListOrder()
{
    QList<WheelItem> ordered;
    for (int row = 0; row < m_list->count(); ++row) {
        const QString id = m_list->item(row)->data(idRole).toString();
        for (const WheelItem& item : std::as_const(m_items)) {
            if (item.id == id)
                ordered.append(item);
        }
    }
    if (ordered.size() != m_items.size() || ordered == m_items)
        return;
    m_items = ordered;
    showItems();
    saveItems();
}

void WheelsSettingsTab::showItems()
{
    const QSignalBlocker blocker(m_list);
    m_list->clear();
    QStringList titles;
    for (int i = 0; i < m_items.size(); ++i) {
        const WheelItem& item = m_items[i];
        auto* row = new QListWidgetItem(item.title, m_list);
        row->setData(idRole, item.id);
        if (item.symbol)
            row->setIcon(symbolIcon(*item.symbol));
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
        // Eight checked: the other boxes cannot be clicked.
        if (isWheelItemCheckable(m_items, i))
            flags |= Qt::ItemIsUserCheckable;
        row->setFlags(flags);
        row->setCheckState(item.isOn ? Qt::Checked : Qt::Unchecked);
        if (item.isOn && titles.size() < maxCheckedWheelItems)
            titles.append(item.title);
    }
    m_preview->setTitles(titles);
}

} // namespace qv

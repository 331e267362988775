#pragma once

#include "model/files/FileCategory.h"
#include "model/SharedEnums.h"
#include "settings/WheelItems.h"

#include <QWidget>

class QComboBox;
class QListWidget;
class QPushButton;

namespace qv {

class SegmentedPicker;
class SettingsStore;
class ToolRegistry;
class WheelPreview;

// The first ring of the Convert and Tools wheels, per file category: which operations are in
// it and in what order, with a drawing of the result.
class WheelsSettingsTab : public QWidget {
    Q_OBJECT
public:
    WheelsSettingsTab(SettingsStore& store, const ToolRegistry& registry, QWidget* parent = nullptr);

    void setCategory(FileCategory category);
    void setWheel(WheelKind wheel);
    // Rebuilds the list from the stored order.
    void loadItems();
    // Stores the checked ids of the list.
    void saveItems();
    void restoreDefaults();
    // Moves one row, as a drag in the list does.
    void moveItem(int from, int to);
    // Checks or unchecks a row, as a click on its box does; refused beyond eight.
    bool setItemChecked(int index, bool on);

    const QList<WheelItem>& items() const { return m_items; }
    QListWidget* list() const { return m_list; }
    WheelPreview* preview() const { return m_preview; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showItems();
    void readListOrder();

    SettingsStore& m_store;
    const ToolRegistry& m_registry;
    FileCategory m_category = FileCategory::image;
    WheelKind m_wheel = WheelKind::convert;
    QList<WheelItem> m_items;
    QComboBox* m_categoryPicker = nullptr;
    SegmentedPicker* m_wheelPicker = nullptr;
    QListWidget* m_list = nullptr;
    WheelPreview* m_preview = nullptr;
    bool m_showing = false;
    bool m_saving = false;
};

} // namespace qv

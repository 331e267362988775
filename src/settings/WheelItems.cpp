#include "settings/WheelItems.h"

#include "model/settings/Settings.h"
#include "model/settings/SettingsReaders.h"

#include <algorithm>

namespace qv {

QList<WheelItem> wheelItems(const QList<OperationDescriptor>& offered, const QStringList& defaults,
                            const std::optional<QStringList>& stored)
{
    const QStringList chosen = stored.value_or(defaults);
    const auto item = [](const OperationDescriptor& d, bool on) {
        return WheelItem{d.id, d.title, d.symbol, on};
    };
    QList<WheelItem> items;
    for (const QString& id : chosen) {
        const auto it = std::find_if(offered.begin(), offered.end(),
                                     [&](const OperationDescriptor& d) { return d.id == id; });
        const bool listed = std::any_of(items.begin(), items.end(),
                                        [&](const WheelItem& i) { return i.id == id; });
        if (it != offered.end() && !listed)
            items.append(item(*it, true));
    }
    for (const OperationDescriptor& d : offered) {
        if (!chosen.contains(d.id))
            items.append(item(d, false));
    }
    return items;
}

QStringList checkedWheelItemIds(const QList<WheelItem>& items)
{
    QStringList ids;
    for (const WheelItem& item : items) {
        if (item.isOn)
            ids.append(item.id);
    }
    return ids;
}

void saveWheelItems(Settings& store, WheelKind wheel, FileCategory category,
                    const QList<WheelItem>& items, const QStringList& defaults)
{
    const QString key = wheelOrderKey(wheel, category);
    const QStringList ids = checkedWheelItemIds(items);
    if (ids == defaults) {
        if (store.hasStoredValue(key))
            store.remove(key);
    } else if (store.stringListValue(key) != ids) {
        store.setValue(key, ids);
    }
}

bool isWheelItemCheckable(const QList<WheelItem>& items, int index)
{
    if (index < 0 || index >= items.size())
        return false;
    return items[index].isOn || checkedWheelItemIds(items).size() < maxCheckedWheelItems;
}

QList<FileCategory> wheelSettingsCategories()
{
    return {FileCategory::image,    FileCategory::video,        FileCategory::audio,
            FileCategory::pdf,      FileCategory::document,     FileCategory::ebook,
            FileCategory::presentation, FileCategory::spreadsheet, FileCategory::subtitle,
            FileCategory::archive,  FileCategory::folder};
}

} // namespace qv

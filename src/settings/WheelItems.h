#pragma once

#include "model/files/FileCategory.h"
#include "model/operations/OperationDescriptor.h"
#include "model/SharedEnums.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace qv {

class Settings;

// One row of the Wheels tab: an operation and whether it is in the first ring.
struct WheelItem {
    QString id;
    QString title;
    std::optional<QString> symbol;
    bool isOn = false;
    bool operator==(const WheelItem&) const = default;
};

// How many items the first ring holds.
inline constexpr int maxCheckedWheelItems = 8;

// The chosen operations in the chosen order, then the rest in catalogue order; stored ids the
// catalogue no longer offers drop out. No stored list: the default one.
QList<WheelItem> wheelItems(const QList<OperationDescriptor>& offered, const QStringList& defaults,
                            const std::optional<QStringList>& stored);

// The checked ids, in order.
QStringList checkedWheelItemIds(const QList<WheelItem>& items);

// Stores the checked ids under the wheel's key; the default list removes the key, so the wheel
// keeps following the built-in order.
void saveWheelItems(Settings& store, WheelKind wheel, FileCategory category,
                    const QList<WheelItem>& items, const QStringList& defaults);

// Whether the item's box may be clicked: a checked one always, an unchecked one while fewer
// than eight are checked.
bool isWheelItemCheckable(const QList<WheelItem>& items, int index);

// The categories the Wheels tab offers, in its order.
QList<FileCategory> wheelSettingsCategories();

} // namespace qv

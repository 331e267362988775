#include "model/RememberedOptions.h"

#include "platform/SettingsStore.h"

namespace qv {

OperationOptions loadRememberedOptions(const QString& operationId, const SettingsStore& store)
{
    const std::optional<QByteArray> data = store.dataValue(rememberedOptionsKey(operationId));
    if (!data)
        return {};
    return decodeOperationOptions(*data).value_or(OperationOptions{});
}

OperationOptions loadRememberedOptions(const QString& operationId)
{
    return loadRememberedOptions(operationId, SettingsStore::shared());
}

void rememberOptions(const OperationOptions& options, const QString& operationId, SettingsStore& store)
{
    const std::optional<QByteArray> json = encodeOperationOptions(options.withoutPerFileValues());
    if (json)
        store.setData(rememberedOptionsKey(operationId), *json);
}

void rememberOptions(const OperationOptions& options, const QString& operationId)
{
    rememberOptions(options, operationId, SettingsStore::shared());
}

} // namespace qv

#include "model/settings/RememberedOptions.h"

#include "model/settings/Settings.h"

namespace qv {

OperationOptions loadRememberedOptions(const QString& operationId, const Settings& store)
{
    const std::optional<QByteArray> data = store.dataValue(rememberedOptionsKey(operationId));
    if (!data)
        return {};
    return decodeOperationOptions(*data).value_or(OperationOptions{});
}

OperationOptions loadRememberedOptions(const QString& operationId)
{
    return loadRememberedOptions(operationId, Settings::shared());
}

void rememberOptions(const OperationOptions& options, const QString& operationId, Settings& store)
{
    const std::optional<QByteArray> json = encodeOperationOptions(options.withoutPerFileValues());
    if (json)
        store.setData(rememberedOptionsKey(operationId), *json);
}

void rememberOptions(const OperationOptions& options, const QString& operationId)
{
    rememberOptions(options, operationId, Settings::shared());
}

} // namespace qv

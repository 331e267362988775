#pragma once

#include "jobs/OptionsModel.h"
#include "model/EnumText.h"

#include <QVariant>

#include <type_traits>

namespace qv {

// A read and a write over one field of a sheet's options: reading gives the field or the
// default while it is absent; writing stores the value (never absent) as one change.
template <typename T>
struct OptionBinding {
    OptionsModel* model = nullptr;
    std::optional<T> OperationOptions::*field = nullptr;
    T defaultValue{};

    T read() const { return (model->options().*field).value_or(defaultValue); }
    void write(const T& value) const
    {
        model->updateOptions([&](OperationOptions& options) { options.*field = value; });
    }

    // The same through QVariant, enumerations as their case names, for choice controls.
    QVariant readVariant() const
    {
        if constexpr (std::is_enum_v<T>)
            return toString(read());
        else
            return QVariant::fromValue(read());
    }
    void writeVariant(const QVariant& value) const
    {
        if constexpr (std::is_enum_v<T>) {
            if (const auto parsed = enumFromString<T>(value.toString()))
                write(*parsed);
        } else {
            write(value.value<T>());
        }
    }
};

template <typename T>
OptionBinding<T> optionBinding(OptionsModel* model, std::optional<T> OperationOptions::*field,
                               T defaultValue)
{
    return {model, field, std::move(defaultValue)};
}

// The password row's binding: an emptied field stays present and empty.
inline OptionBinding<QString> makeStringOptionBinding(OptionsModel* model,
                                                      std::optional<QString> OperationOptions::*field,
                                                      const QString& defaultText)
{
    return {model, field, defaultText};
}

} // namespace qv

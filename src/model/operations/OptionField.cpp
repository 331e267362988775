#include "model/operations/OptionField.h"

namespace qv {

static_assert(EnumText<OptionField>::names.size() == 31);

std::optional<OptionField> optionFieldFromString(const QString& text)
{
    return enumFromString<OptionField>(text);
}

std::optional<QString> optionFieldNote(OptionField field)
{
    switch (field) {
    case OptionField::ringtoneLength:
        return QStringLiteral("Ringtones can be at most 40 seconds long.");
    case OptionField::approximateLayoutNote:
        return QStringLiteral("The text flows like a document; the PDF's exact layout is not kept.");
    default: return std::nullopt;
    }
}

} // namespace qv

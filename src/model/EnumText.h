#pragma once

#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace qv {

// Enumerations are stored and exchanged as the names of their cases. Each enum declares its
// names once, in declaration order, by specialising EnumText; the helpers below do the rest.
template <typename E>
struct EnumText;

template <typename E>
QString toString(E value)
{
    return QString::fromLatin1(EnumText<E>::names[static_cast<std::size_t>(value)]);
}

template <typename E>
std::optional<E> enumFromString(const QString& text)
{
    const auto& names = EnumText<E>::names;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (text == QLatin1String(names[i]))
            return static_cast<E>(i);
    }
    return std::nullopt;
}

template <typename E>
QList<E> allCases()
{
    QList<E> cases;
    for (std::size_t i = 0; i < EnumText<E>::names.size(); ++i)
        cases.append(static_cast<E>(i));
    return cases;
}

} // namespace qv

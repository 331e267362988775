#pragma once

#include <QDBusArgument>

namespace qv {

// A D-Bus structure written from its fields and read into them, in order: the body of the
// operator<< and operator>> that a structure type registered with QtDBus needs.
template <typename... Fields>
QDBusArgument& writeDBusStructure(QDBusArgument& argument, const Fields&... fields)
{
    argument.beginStructure();
    (argument << ... << fields);
    argument.endStructure();
    return argument;
}

template <typename... Fields>
const QDBusArgument& readDBusStructure(const QDBusArgument& argument, Fields&... fields)
{
    argument.beginStructure();
    (argument >> ... >> fields);
    argument.endStructure();
    return argument;
}

} // namespace qv

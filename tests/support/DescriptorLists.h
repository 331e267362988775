#pragma once

#include "model/operations/OperationDescriptor.h"

#include <QList>
#include <QStringList>

#include <stdexcept>

namespace qv::test {

// The ids of a catalogue list, in its order.
inline QStringList ids(const QList<OperationDescriptor>& list)
{
    QStringList all;
    for (const OperationDescriptor& d : list)
        all.append(d.id);
    return all;
}

// The entry of the list with this id; throws when there is none, so a test fails loudly.
inline const OperationDescriptor& byID(const QList<OperationDescriptor>& list, const QString& id)
{
    for (const OperationDescriptor& d : list)
        if (d.id == id)
            return d;
    throw std::runtime_error("no " + id.toStdString());
}

} // namespace qv::test

#include "platform/wayland/ShellDragBus.h"

#include "platform/wayland/ShellDragSource.h"

#include <QDBusMessage>

namespace qv {

ShellDragBus::ShellDragBus(ShellDragSource* source)
    : QDBusAbstractAdaptor(source)
    , m_source(source)
{
    // Not relayed automatically: the source's signals are not the bus's.
    setAutoRelaySignals(false);
}

void ShellDragBus::Attach(const QDBusMessage& message)
{
    m_source->attach(message.service());
}

void ShellDragBus::Detach(const QDBusMessage& message)
{
    m_source->detach(message.service());
}

void ShellDragBus::DragBegan(const QStringList& types, const QStringList& uris, int x, int y,
                             uint modifiers)
{
    m_source->dragBegan(types, uris, {x, y}, modifiers);
}

void ShellDragBus::DragMoved(int x, int y, uint modifiers)
{
    m_source->dragMoved({x, y}, modifiers);
}

void ShellDragBus::DragEnded(int x, int y)
{
    m_source->dragEnded({x, y});
}

void ShellDragBus::ModifiersChanged(uint modifiers)
{
    m_source->modifiersReported(modifiers);
}

void ShellDragBus::PointerLocated(int x, int y)
{
    m_source->pointerReported({x, y});
}

void ShellDragBus::ClickWheelKey(const QString& name, const QDBusMessage& message)
{
    m_source->clickWheelKeyReported(name, message.service());
}

void ShellDragBus::ClickWheelDismissed(const QDBusMessage& message)
{
    m_source->clickWheelDismissedReported(message.service());
}

} // namespace qv

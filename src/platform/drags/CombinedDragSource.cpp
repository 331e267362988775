#include "platform/drags/CombinedDragSource.h"

namespace qv {

CombinedDragSource::CombinedDragSource(std::vector<std::unique_ptr<DragEventSource>> sources,
                                       QObject* parent)
    : DragEventSource(parent)
    , m_sources(std::move(sources))
    , m_started(m_sources.size(), false)
{
    for (int i = 0; i < int(m_sources.size()); ++i) {
        DragEventSource* s = m_sources[size_t(i)].get();
        connect(s, &DragEventSource::primaryButtonPressed, this, [this, i] {
            if (m_active != -1 && m_active != i)
                return;
            m_active = i;
            Q_EMIT primaryButtonPressed();
        });
        connect(s, &DragEventSource::primaryButtonReleased, this, [this, i] {
            if (m_active != i)
                return;
            m_active = -1;
            Q_EMIT primaryButtonReleased();
        });
        const auto relay = [this, i](auto signal) {
            return [this, i, signal](auto... args) {
                if (m_active == i)
                    (this->*signal)(args...);
            };
        };
        connect(s, &DragEventSource::dragSelectionChanged, this, relay(&DragEventSource::dragSelectionChanged));
        connect(s, &DragEventSource::dragOfferRead, this, relay(&DragEventSource::dragOfferRead));
        connect(s, &DragEventSource::modifiersChanged, this, relay(&DragEventSource::modifiersChanged));
        connect(s, &DragEventSource::keyPressed, this, relay(&DragEventSource::keyPressed));
        connect(s, &DragEventSource::dwellElapsed, this, relay(&DragEventSource::dwellElapsed));
    }
}

CombinedDragSource::~CombinedDragSource() = default;

bool CombinedDragSource::start(QString* whyNot)
{
    QStringList reasons;
    bool any = false;
    for (size_t i = 0; i < m_sources.size(); ++i) {
        QString why;
        m_started[i] = m_sources[i]->start(&why);
        any = any || m_started[i];
        if (!m_started[i] && !why.isEmpty())
            reasons << why;
    }
    if (!any)
        *whyNot = reasons.join(QStringLiteral("; "));
    return any;
}

DragEventSource* CombinedDragSource::speaker() const
{
    if (m_active >= 0)
        return m_sources[size_t(m_active)].get();
    for (size_t i = 0; i < m_sources.size(); ++i) {
        if (m_started[i])
            return m_sources[i].get();
    }
    return nullptr;
}

bool CombinedDragSource::isPrimaryButtonDown()
{
    DragEventSource* s = speaker();
    return s && s->isPrimaryButtonDown();
}

quint32 CombinedDragSource::currentModifiers()
{
    DragEventSource* s = speaker();
    return s ? s->currentModifiers() : 0;
}

QPoint CombinedDragSource::pointerPosition()
{
    DragEventSource* s = speaker();
    return s ? s->pointerPosition() : QPoint();
}

void CombinedDragSource::readDragOffer()
{
    if (DragEventSource* s = speaker())
        s->readDragOffer();
    else
        Q_EMIT dragOfferRead({});
}

void CombinedDragSource::nudgePointer()
{
    if (DragEventSource* s = speaker())
        s->nudgePointer();
}

void CombinedDragSource::ownDragBeginning()
{
    for (const std::unique_ptr<DragEventSource>& source : m_sources)
        source->ownDragBeginning();
}

void CombinedDragSource::setCatchersShown(bool shown)
{
    for (const std::unique_ptr<DragEventSource>& source : m_sources)
        source->setCatchersShown(shown);
}

} // namespace qv

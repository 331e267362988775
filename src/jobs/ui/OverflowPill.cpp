#include "jobs/ui/OverflowPill.h"

#include "jobs/ui/HUDPanel.h"
#include "jobs/ui/OverflowView.h"
#include "jobs/ui/PillBackground.h"

namespace qv {

OverflowPill::~OverflowPill()
{
    HUDPanel::dispose(m_panel);
}

void OverflowPill::update(int count, const QRect& frame)
{
    if (!m_panel)
        m_panel = new HUDPanel(frame.size());
    m_panel->setContent(new OverflowView(count, frame.size()));
    m_panel->setFrame(frame);
    m_panel->setShape(pillShape(QRectF(QPointF(0, 0), frame.size())));
    m_panel->orderFrontRegardless();
}

void OverflowPill::orderOut()
{
    if (m_panel)
        m_panel->orderOut();
}

bool OverflowPill::isVisible() const
{
    return m_panel && m_panel->isShown();
}

int OverflowPill::count() const
{
    auto* view = m_panel ? qobject_cast<OverflowView*>(m_panel->content()) : nullptr;
    return view ? view->count() : 0;
}

} // namespace qv

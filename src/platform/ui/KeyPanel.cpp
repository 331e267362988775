#include "platform/ui/KeyPanel.h"

namespace qv {

KeyPanel::KeyPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

} // namespace qv

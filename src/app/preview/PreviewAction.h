#pragma once

#include "app/preview/PreviewWindow.h"

#include <QList>
#include <QPointer>
#include <QUrl>

namespace qv {

// Shows files in the process's one preview window. Main thread only.
class PreviewAction {
public:
    static PreviewAction& shared();

    // Shows the files from the first, replacing what the window showed; an open window stays
    // open and is brought forward.
    void show(const QList<QUrl>& urls);

    const QList<QUrl>& items() const { return m_items; }
    // The window, made on first use; null before.
    PreviewWindow* window() const { return m_window; }

private:
    PreviewAction() = default;

    QList<QUrl> m_items;
    QPointer<PreviewWindow> m_window;
};

} // namespace qv

#include "jobs/Toasts.h"

#include "model/Log.h"

namespace qv {

namespace {

ToastPresenter* g_presenter = nullptr;

} // namespace

void showToast(const QString& text, const QString& symbol, double seconds,
               std::function<void()> onClick)
{
    if (!g_presenter) {
        qCInfo(appLog, "Toast: %s", qUtf8Printable(text));
        return;
    }
    g_presenter->show(Toast{text, symbol, seconds, std::move(onClick)});
}

void setToastPresenter(ToastPresenter* presenter)
{
    g_presenter = presenter;
}

} // namespace qv

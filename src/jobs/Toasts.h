#pragma once

#include <QString>

#include <functional>

namespace qv {

// A short transient message with a symbol, the one way every subsystem gives immediate
// feedback. The user interface installs the presenter that shows it.
struct Toast {
    QString text;
    QString symbol;
    double seconds = 3.0;
    std::function<void()> onClick; // empty: the toast takes no clicks
};

class ToastPresenter {
public:
    virtual ~ToastPresenter() = default;
    virtual void show(const Toast& toast) = 0;
};

// Shows the toast through the installed presenter; without one, it is only logged.
void showToast(const QString& text, const QString& symbol, double seconds = 3.0,
               std::function<void()> onClick = {});

// The presenter stays owned by the caller; nullptr removes it.
void setToastPresenter(ToastPresenter* presenter);

} // namespace qv

#pragma once

#include <QProcess>
#include <QString>

namespace qv::test {

// openbox on the tests' X server for the life of the object, as a user's session has a window
// manager: it frames windows and moves the keyboard focus to the window clicked.
class WindowManager {
public:
    WindowManager();
    // Stops it: later tests see a bare server again.
    ~WindowManager();

    // Why there is none (openbox missing, or it did not take over the display); empty when
    // it runs.
    QString whyNot() const { return m_whyNot; }

private:
    QProcess m_process;
    QString m_whyNot;
};

} // namespace qv::test

#pragma once

#include <QApplication>

namespace qv {

// The application object: a tray utility that keeps running with no window open.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
};

} // namespace qv

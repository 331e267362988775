#pragma once

#include <QWidget>

namespace qv {

// A floating tool window kept above other windows that still takes the keyboard focus.
class KeyPanel : public QWidget {
    Q_OBJECT
public:
    explicit KeyPanel(QWidget* parent = nullptr);
};

} // namespace qv

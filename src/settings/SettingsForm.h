#pragma once

#include <QString>

class QFormLayout;
class QLabel;
class QVBoxLayout;
class QWidget;

namespace qv {

// The grouped form every tab is made of: sections with an optional header, rows of a label and
// a control, and a caption under a section.
class SettingsForm {
public:
    explicit SettingsForm(QWidget* tab);

    // A new section; an empty header gives a section without one.
    QFormLayout* addSection(const QString& header = QString());
    // A caption in small, secondary text under the last section.
    QLabel* addFooter(const QString& text);
    // Stretch below the last section.
    void finish();

    QVBoxLayout* layout() const { return m_layout; }

    // Small, secondary text.
    static QLabel* caption(const QString& text, QWidget* parent = nullptr);

private:
    QWidget* m_tab;
    QVBoxLayout* m_layout;
};

} // namespace qv

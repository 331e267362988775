#pragma once

#include <QDialog>

#include <functional>

class QPlainTextEdit;
class QPushButton;

namespace qv {

// The sheet with FFmpeg's licence: a title, the text as FFmpeg reports it, and "Done".
class LicenseView : public QDialog {
    Q_OBJECT
public:
    LicenseView(std::function<void()> close, const QString& license, QWidget* parent = nullptr);

    void setLicense(const QString& license);
    QString license() const;
    QPushButton* doneButton() const { return m_done; }

    // What the sheet says when there is no licence to show.
    static QString missingText();

private:
    QPlainTextEdit* m_text;
    QPushButton* m_done;
};

} // namespace qv

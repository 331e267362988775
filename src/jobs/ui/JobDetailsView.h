#pragma once

#include "jobs/JobCenterServices.h"
#include "model/JobFailure.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QPlainTextEdit;

namespace qv {

class Clipboard;

// What went wrong in a failed job: the message, the file, the details and a way to copy them.
class JobDetailsView : public QWidget {
    Q_OBJECT
public:
    JobDetailsView(QString title, JobFailure failure, QString file, std::function<void()> close,
                   Clipboard& clipboard, QWidget* parent = nullptr);

    const QString& title() const { return m_title; }
    QString detailsText() const;
    // Puts the message, a blank line and the details on the clipboard.
    void copyDetails();

private:
    QString m_title;
    JobFailure m_failure;
    Clipboard& m_clipboard;
    QPlainTextEdit* m_details = nullptr;
};

// Opens a new details window for the job; every call opens one more.
QWidget* showJobDetails(const JobPtr& job, Clipboard* clipboard = nullptr);
// The details windows now open.
QList<QWidget*> openDetailsPanels();

} // namespace qv

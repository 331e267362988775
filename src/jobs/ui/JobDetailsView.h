#pragma once

#include "jobs/Job.h"
#include "jobs/JobCenterServices.h"
#include "model/errors/JobFailure.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QPlainTextEdit;
class QTreeWidget;

namespace qv {

class Clipboard;

// What an ended job did, file by file: what each file became, what was said of it, or why it
// failed, with the technical details of failures below and a way to copy them.
class JobDetailsView : public QWidget {
    Q_OBJECT
public:
    JobDetailsView(QString title, const Job& job, std::function<void()> close, Clipboard& clipboard,
                   QWidget* parent = nullptr);

    const QString& title() const { return m_title; }
    // The failures' technical details; "No further details." when they have none.
    QString detailsText() const;
    // One line per file: its name and what became of it.
    QStringList fileLines() const { return m_lines; }
    // The failure's message, a blank line and its details; after them, with several files,
    // the lines file by file.
    void copyDetails();

    // One file's line: "name — what became of it".
    static QString outcomeLine(const Job::ItemOutcome& outcome);

private:
    QString m_title;
    JobFailure m_failure;
    QString m_details;
    QStringList m_lines;
    Clipboard& m_clipboard;
    QTreeWidget* m_files = nullptr;
    QPlainTextEdit* m_detailsBox = nullptr;
};

// Opens a new details window for the job; every call opens one more.
QWidget* showJobDetails(const JobPtr& job, Clipboard* clipboard = nullptr);
// The details windows now open.
QList<QWidget*> openDetailsPanels();

} // namespace qv

#include "jobs/ui/JobDetailsView.h"

#include "graphics/SymbolTable.h"
#include "jobs/FailureTitle.h"
#include "jobs/Job.h"
#include "jobs/ui/PillView.h"
#include "platform/clipboard/Clipboard.h"

#include <QCursor>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHeaderView>
#include <QTreeWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace qv {

namespace {

QList<QPointer<QWidget>>& panels()
{
    static QList<QPointer<QWidget>> list;
    return list;
}

} // namespace

namespace {

QString names(const QStringList& inputs)
{
    if (inputs.isEmpty())
        return QStringLiteral("(no file)");
    if (inputs.size() <= 3)
        return inputs.join(QStringLiteral(", "));
    return inputs.mid(0, 2).join(QStringLiteral(", ")) + QStringLiteral(" and %1 more").arg(inputs.size() - 2);
}

QString result(const Job::ItemOutcome& outcome)
{
    if (outcome.failure)
        return outcome.failure->message;
    if (outcome.cancelled)
        return QStringLiteral("Cancelled");
    QStringList parts;
    if (outcome.outputs.size() == 1)
        parts.append(QStringLiteral("Saved as ") + outcome.outputs.first().fileName());
    else if (outcome.outputs.size() > 1)
        parts.append(QStringLiteral("Saved %1 files").arg(outcome.outputs.size()));
    parts += outcome.messages;
    if (parts.isEmpty())
        parts.append(QStringLiteral("Done"));
    return parts.join(QStringLiteral(" · "));
}

} // namespace

QString JobDetailsView::outcomeLine(const Job::ItemOutcome& outcome)
{
    return names(outcome.inputs) + QStringLiteral(" — ") + result(outcome);
}

JobDetailsView::JobDetailsView(QString title, const Job& job, std::function<void()> close,
                               Clipboard& clipboard, QWidget* parent)
    : QWidget(parent)
    , m_title(std::move(title))
    , m_clipboard(clipboard)
{
    QList<Job::ItemOutcome> outcomes = job.itemOutcomes();
    if (outcomes.isEmpty()) {
        // A job that ended before its items told anything: its one sentence for its files.
        Job::ItemOutcome only;
        only.inputs = {job.firstFileName()};
        if (job.fileCount() > 1)
            only.inputs = {QStringLiteral("%1 files").arg(job.fileCount())};
        only.outputs = job.outputs();
        only.messages = job.messages();
        if (job.state() == Job::State::failed)
            only.failure = job.failure().value_or(JobFailure{QStringLiteral("Unknown error"), QString()});
        only.cancelled = job.state() == Job::State::cancelled;
        outcomes = {only};
    }
    QStringList details;
    for (const Job::ItemOutcome& outcome : std::as_const(outcomes)) {
        m_lines.append(outcomeLine(outcome));
        if (outcome.failure && !m_failure.message.isEmpty())
            continue;
        if (outcome.failure)
            m_failure = *outcome.failure;
    }
    if (m_failure.message.isEmpty() && job.failure())
        m_failure = *job.failure();
    for (const Job::ItemOutcome& outcome : std::as_const(outcomes)) {
        if (outcome.failure && !outcome.failure->details.isEmpty())
            details.append(outcomes.size() > 1 ? names(outcome.inputs) + QStringLiteral(":\n") + outcome.failure->details
                                               : outcome.failure->details);
    }
    m_details = details.join(QStringLiteral("\n\n"));

    setMinimumSize(460, 240);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(12);

    const bool failed = job.state() == Job::State::failed;
    const bool someFailed = !m_failure.message.isEmpty();
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->setAlignment(Qt::AlignTop);
    auto* icon = new QLabel;
    QPixmap badge(32 * devicePixelRatio(), 32 * devicePixelRatio());
    badge.setDevicePixelRatio(devicePixelRatio());
    badge.fill(Qt::transparent);
    {
        QPainter painter(&badge);
        if (failed)
            paintSymbol(painter, QStringLiteral("xmark.octagon.fill"), QRectF(0, 0, 32, 32), QColor(255, 59, 48));
        else if (someFailed)
            paintSymbol(painter, QStringLiteral("exclamationmark.triangle.fill"), QRectF(0, 0, 32, 32), QColor(255, 149, 0));
        else
            paintSymbol(painter, QStringLiteral("checkmark.circle.fill"), QRectF(0, 0, 32, 32), QColor(52, 199, 89));
    }
    icon->setPixmap(badge);
    icon->setAlignment(Qt::AlignTop);
    header->addWidget(icon, 0, Qt::AlignTop);
    auto* headline = new QLabel(m_title);
    headline->setObjectName(QStringLiteral("message"));
    headline->setWordWrap(true);
    QFont bold = headline->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.1);
    headline->setFont(bold);
    header->addWidget(headline, 1, Qt::AlignVCenter);
    column->addLayout(header);

    // File by file: each line whole, wrapped rather than cut.
    m_files = new QTreeWidget;
    m_files->setObjectName(QStringLiteral("files"));
    m_files->setColumnCount(2);
    m_files->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Result")});
    m_files->setRootIsDecorated(false);
    m_files->setWordWrap(true);
    m_files->setUniformRowHeights(false);
    m_files->setSelectionMode(QAbstractItemView::NoSelection);
    m_files->setFocusPolicy(Qt::NoFocus);
    for (const Job::ItemOutcome& outcome : std::as_const(outcomes)) {
        auto* row = new QTreeWidgetItem(m_files, {names(outcome.inputs), result(outcome)});
        row->setToolTip(0, outcome.inputs.join(QLatin1Char('\n')));
        row->setToolTip(1, result(outcome));
        if (outcome.failure)
            row->setForeground(1, QColor(215, 0, 21));
    }
    m_files->header()->setStretchLastSection(true);
    m_files->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    m_files->setColumnWidth(0, 170);
    column->addWidget(m_files, 1);

    // Only failures carry technical details; without any there is no box to leave empty.
    if (!m_details.isEmpty()) {
        auto* detailsLabel = new QLabel(QStringLiteral("Details"));
        QFont semibold = detailsLabel->font();
        semibold.setWeight(QFont::DemiBold);
        detailsLabel->setFont(semibold);
        column->addWidget(detailsLabel);
        m_detailsBox = new QPlainTextEdit(m_details);
        m_detailsBox->setReadOnly(true);
        m_detailsBox->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        mono.setPixelSize(11);
        m_detailsBox->setFont(mono);
        column->addWidget(m_detailsBox, 1);
    }

    auto* row = new QHBoxLayout;
    auto* copy = new QPushButton(QStringLiteral("Copy Details"));
    copy->setObjectName(QStringLiteral("copyDetails"));
    connect(copy, &QPushButton::clicked, this, &JobDetailsView::copyDetails);
    auto* closeButton = new QPushButton(QStringLiteral("Close"));
    closeButton->setObjectName(QStringLiteral("close"));
    closeButton->setDefault(true);
    closeButton->setAutoDefault(true);
    connect(closeButton, &QPushButton::clicked, this, [close = std::move(close)] {
        if (close)
            close();
    });
    row->addWidget(copy);
    row->addStretch(1);
    row->addWidget(closeButton);
    column->addLayout(row);
}

QString JobDetailsView::detailsText() const
{
    return m_details.isEmpty() ? QStringLiteral("No further details.") : m_details;
}

void JobDetailsView::copyDetails()
{
    QString text;
    if (!m_failure.message.isEmpty())
        text = m_failure.message + QStringLiteral("\n\n") + m_details;
    if (m_lines.size() > 1 || m_failure.message.isEmpty()) {
        if (!text.isEmpty())
            text += QStringLiteral("\n\n");
        text += m_lines.join(QLatin1Char('\n'));
    }
    m_clipboard.setText(text);
}

QWidget* showJobDetails(const JobPtr& job, Clipboard* clipboard)
{
    if (!job)
        return nullptr;
    const QString title = job->state() == Job::State::failed ? failureTitle(job->title()) : PillView::titleText(*job);

    auto* panel = new QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowTitle(title);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    QPointer<QWidget> weak(panel);
    layout->addWidget(new JobDetailsView(title, *job, [weak] {
        if (weak)
            weak->close();
    }, clipboard ? *clipboard : Clipboard::system()));
    panel->resize(560, 360);
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()) ?: QGuiApplication::primaryScreen())
        panel->move(screen->availableGeometry().center() - QPoint(280, 180));

    panels().append(panel);
    QObject::connect(panel, &QObject::destroyed, [panel] {
        panels().removeIf([panel](const QPointer<QWidget>& p) { return p.isNull() || p.data() == panel; });
    });
    panel->show();
    panel->raise();
    panel->activateWindow();
    return panel;
}

QList<QWidget*> openDetailsPanels()
{
    QList<QWidget*> list;
    for (const QPointer<QWidget>& panel : panels()) {
        if (panel)
            list.append(panel);
    }
    return list;
}

} // namespace qv

#include "jobs/ui/JobDetailsView.h"

#include "graphics/SymbolTable.h"
#include "jobs/FailureTitle.h"
#include "jobs/Job.h"
#include "platform/Clipboard.h"

#include <QCursor>
#include <QFontDatabase>
#include <QGuiApplication>
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

JobDetailsView::JobDetailsView(QString title, JobFailure failure, QString file,
                               std::function<void()> close, Clipboard& clipboard, QWidget* parent)
    : QWidget(parent)
    , m_title(std::move(title))
    , m_failure(std::move(failure))
    , m_clipboard(clipboard)
{
    setMinimumSize(420, 280);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(12);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->setAlignment(Qt::AlignTop);
    auto* icon = new QLabel;
    QPixmap badge(32 * devicePixelRatio(), 32 * devicePixelRatio());
    badge.setDevicePixelRatio(devicePixelRatio());
    badge.fill(Qt::transparent);
    {
        QPainter painter(&badge);
        paintSymbol(painter, QStringLiteral("xmark.octagon.fill"), QRectF(0, 0, 32, 32), QColor(255, 59, 48));
    }
    icon->setPixmap(badge);
    icon->setAlignment(Qt::AlignTop);
    header->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* message = new QLabel(m_failure.message);
    message->setObjectName(QStringLiteral("message"));
    message->setWordWrap(true);
    QFont headline = message->font();
    headline.setBold(true);
    message->setFont(headline);
    texts->addWidget(message);
    if (!file.isEmpty()) {
        auto* fileLabel = new QLabel(file);
        fileLabel->setObjectName(QStringLiteral("file"));
        fileLabel->setForegroundRole(QPalette::PlaceholderText);
        texts->addWidget(fileLabel);
    }
    header->addLayout(texts, 1);
    column->addLayout(header);

    auto* detailsLabel = new QLabel(QStringLiteral("Details"));
    QFont semibold = detailsLabel->font();
    semibold.setWeight(QFont::DemiBold);
    detailsLabel->setFont(semibold);
    column->addWidget(detailsLabel);

    m_details = new QPlainTextEdit(m_failure.details.isEmpty() ? QStringLiteral("No further details.")
                                                               : m_failure.details);
    m_details->setReadOnly(true);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(11);
    m_details->setFont(mono);
    m_details->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    column->addWidget(m_details, 1);

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
    return m_details->toPlainText();
}

void JobDetailsView::copyDetails()
{
    m_clipboard.setText(m_failure.message + QStringLiteral("\n\n") + m_failure.details);
}

QWidget* showJobDetails(const JobPtr& job, Clipboard* clipboard)
{
    if (!job)
        return nullptr;
    const JobFailure failure = job->failure().value_or(JobFailure{QStringLiteral("Unknown error"), QString()});
    const QString title = failureTitle(job->title());

    auto* panel = new QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowTitle(title);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    QPointer<QWidget> weak(panel);
    layout->addWidget(new JobDetailsView(title, failure, job->firstFileName(), [weak] {
        if (weak)
            weak->close();
    }, clipboard ? *clipboard : Clipboard::system()));
    panel->resize(520, 360);
    if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos()) ?: QGuiApplication::primaryScreen())
        panel->move(screen->availableGeometry().center() - QPoint(260, 180));

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

#include "settings/EnginesSettingsTab.h"

#include "graphics/SymbolTable.h"
#include "model/operations/Capabilities.h"
#include "platform/processes/FFmpegInvocation.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/processes/ThreadCall.h"
#include "settings/LicenseView.h"
#include "settings/SettingsForm.h"
#include "settings/SettingsRules.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace qv {

// One engine: a check or a dashed circle, the title with its status at the right, the detail.
struct EnginesSettingsTab::Row {
    QLabel* icon = nullptr;
    QLabel* title = nullptr;
    QLabel* status = nullptr;
    QLabel* detail = nullptr;

    void set(bool available, const QString& statusText)
    {
        const int size = 18;
        QPixmap pixmap(size * 2, size * 2);
        pixmap.setDevicePixelRatio(2);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor secondary = icon->palette().color(QPalette::WindowText);
        secondary.setAlphaF(0.5f);
        paintSymbol(painter, available ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle.dashed"),
                    QRectF(1, 1, size - 2, size - 2), available ? QColor(0x34, 0xC7, 0x59) : secondary);
        painter.end();
        icon->setPixmap(pixmap);
        status->setText(statusText);
        status->setVisible(!statusText.isEmpty());
    }
};

namespace {

std::unique_ptr<EnginesSettingsTab::Row> makeRow(QWidget* parent, QFormLayout* section,
                                                 const QString& title, const QString& detail);

} // namespace

EnginesSettingsTab::Probes EnginesSettingsTab::Probes::system(Capabilities& capabilities)
{
    Probes probes;
    const std::optional<QUrl> program = capabilities.ffmpegURL();
    probes.ffmpegVersion = [program](std::stop_token stop) {
        return qv::ffmpegVersion(program, std::move(stop));
    };
    probes.ffmpegLicence = [program](std::stop_token stop) -> std::optional<QString> {
        if (!program)
            return std::nullopt;
        try {
            const ProcessRunner::Output output = ProcessRunner::run(
                *program, {QStringLiteral("-hide_banner"), QStringLiteral("-L")}, std::move(stop),
                QHash<QString, QString>());
            const QString text = output.stdoutText().trimmed();
            if (output.status != 0 || text.isEmpty())
                return std::nullopt;
            return text;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
    probes.archiveFormats = [&capabilities] { return capabilities.archiveFormats(); };
    probes.refreshApps = [&capabilities] { capabilities.refreshExternalApps(true); };
    return probes;
}

namespace {

std::unique_ptr<EnginesSettingsTab::Row> makeRow(QWidget* parent, QFormLayout* section,
                                                 const QString& title, const QString& detail)
{
    auto row = std::make_unique<EnginesSettingsTab::Row>();
    auto* widget = new QWidget(parent);
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(10);
    row->icon = new QLabel(widget);
    row->icon->setFixedWidth(18);
    row->icon->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    layout->addWidget(row->icon, 0, Qt::AlignTop);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    auto* top = new QHBoxLayout;
    row->title = new QLabel(title, widget);
    QFont medium = row->title->font();
    medium.setWeight(QFont::Medium);
    row->title->setFont(medium);
    top->addWidget(row->title);
    top->addStretch(1);
    row->status = SettingsForm::caption(QString(), widget);
    row->status->setFont(row->title->font());
    row->status->setWordWrap(false);
    top->addWidget(row->status);
    text->addLayout(top);
    row->detail = SettingsForm::caption(detail, widget);
    text->addWidget(row->detail);
    layout->addLayout(text, 1);
    section->addRow(widget);
    return row;
}

} // namespace

EnginesSettingsTab::EnginesSettingsTab(Capabilities& capabilities, Probes probes, QWidget* parent)
    : QWidget(parent), m_capabilities(capabilities), m_probes(std::move(probes))
{
    SettingsForm form(this);
    QFormLayout* builtIn = form.addSection(QStringLiteral("Built in"));
    std::unique_ptr<Row> libraries = makeRow(
        this, builtIn, QStringLiteral("Built-in libraries"),
        QStringLiteral("Images, PDF, documents, e-books, subtitles, spreadsheets (CSV, XLSX), OCR "
                       "and background removal, with libvips, MuPDF, qpdf, Tesseract, ZXing and "
                       "libarchive"));
    libraries->set(true, QString());
    QString ffmpegDetail = QStringLiteral("Video and audio conversions and tools, WebP");
    if (!m_capabilities.imageIOWritable().contains(QStringLiteral("public.avif")))
        ffmpegDetail += QStringLiteral(" and AVIF");
    m_ffmpegRow = makeRow(this, builtIn, QStringLiteral("FFmpeg"), ffmpegDetail);
    m_archivesRow = makeRow(this, builtIn, QStringLiteral("Archives"),
                            QStringLiteral("Extract, test and re-pack archives"));

    auto* optional = new QGroupBox(this);
    auto* optionalLayout = new QVBoxLayout(optional);
    auto* header = new QHBoxLayout;
    header->addWidget(new QLabel(QStringLiteral("Optional apps"), optional));
    header->addStretch(1);
    m_checkAgain = new QPushButton(QStringLiteral("Check Again"), optional);
    m_checkAgain->setAutoDefault(false);
    header->addWidget(m_checkAgain);
    optionalLayout->addLayout(header);
    auto* appsForm = new QFormLayout;
    optionalLayout->addLayout(appsForm);
    form.layout()->addWidget(optional);
    m_libreOfficeRow = makeRow(this, appsForm, QStringLiteral("LibreOffice"),
                               QStringLiteral("Word, Excel, PowerPoint and OpenDocument formats to PDF and each other"));
    m_pandocRow = makeRow(this, appsForm, QStringLiteral("pandoc"),
                          QStringLiteral("Reads Word (DOCX), OpenDocument text and RTF for every document conversion"));
    m_ghostscriptRow = makeRow(this, appsForm, QStringLiteral("Ghostscript"), QStringLiteral("Compresses PDFs"));
    form.addFooter(QStringLiteral(
        "Quorvenda uses these programs when they are installed; what they make possible appears on "
        "the wheel automatically."));
    connect(m_checkAgain, &QPushButton::clicked, this, &EnginesSettingsTab::checkAgain);

    QFormLayout* thanks = form.addSection(QStringLiteral("Acknowledgements"));
    auto* licenseButton = new QPushButton(QStringLiteral("License and Sources\u2026"), this);
    licenseButton->setAutoDefault(false);
    thanks->addRow(QStringLiteral("FFmpeg"), licenseButton);
    m_acknowledgement = SettingsForm::caption(QString(), this);
    thanks->addRow(m_acknowledgement);
    connect(licenseButton, &QPushButton::clicked, this, &EnginesSettingsTab::showLicense);
    form.finish();
    // Nothing to ask: there is no licence to wait for.
    m_licenceKnown = !m_probes.ffmpegLicence;
    updateRows();
}

EnginesSettingsTab::~EnginesSettingsTab()
{
    stopProbes();
}

QString EnginesSettingsTab::ffmpegStatus() const
{
    return ffmpegStatusText(m_capabilities.hasFFmpeg(), m_ffmpegVersion);
}

QString EnginesSettingsTab::archivesStatus() const
{
    return archiveListText(m_archiveFormats.value_or(QSet<QString>()));
}

QString EnginesSettingsTab::libreOfficeStatus() const
{
    return m_capabilities.libreOfficeURL() ? QStringLiteral("Installed") : QStringLiteral("Not installed");
}

QString EnginesSettingsTab::pandocStatus() const
{
    return m_capabilities.pandocURL() ? QStringLiteral("Installed") : QStringLiteral("Not installed");
}

QString EnginesSettingsTab::ghostscriptStatus() const
{
    return m_capabilities.ghostscriptURL() ? QStringLiteral("Installed") : QStringLiteral("Not installed");
}

QString EnginesSettingsTab::acknowledgement() const
{
    if (m_capabilities.hasFFmpeg() && !m_licenceKnown)
        return QString();
    return ffmpegLicenceSentence(m_licence);
}

QString EnginesSettingsTab::licenceText() const
{
    if (!m_capabilities.hasFFmpeg() || (m_licenceKnown && !m_licence))
        return LicenseView::missingText();
    if (!m_licenceKnown)
        return QStringLiteral("Checking\u2026");
    return *m_licence;
}

void EnginesSettingsTab::updateRows()
{
    m_ffmpegRow->set(m_capabilities.hasFFmpeg(), ffmpegStatus());
    m_archivesRow->set(true, archivesStatus());
    m_libreOfficeRow->set(m_capabilities.libreOfficeURL().has_value(), libreOfficeStatus());
    m_pandocRow->set(m_capabilities.pandocURL().has_value(), pandocStatus());
    m_ghostscriptRow->set(m_capabilities.ghostscriptURL().has_value(), ghostscriptStatus());
    m_acknowledgement->setText(acknowledgement());
    m_acknowledgement->setVisible(!m_acknowledgement->text().isEmpty());
    if (m_license)
        m_license->setLicense(licenceText());
}

void EnginesSettingsTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    startProbes();
}

void EnginesSettingsTab::hideEvent(QHideEvent* event)
{
    stopProbes();
    QWidget::hideEvent(event);
}

void EnginesSettingsTab::startProbes()
{
    stopProbes();
    m_stop = std::make_shared<std::stop_source>();
    const std::stop_token stop = m_stop->get_token();
    const auto ask = [this, stop](auto question, auto answer) {
        ++m_probing;
        // The tab may be gone when the answer comes: only the main thread looks at it.
        const QPointer<EnginesSettingsTab> self(this);
        runInBackground([self, stop, question, answer] {
            auto result = question(stop);
            postToMainThread([self, stop, result = std::move(result), answer] {
                if (!self)
                    return;
                --self->m_probing;
                // An answer of a showing that ended is not this showing's.
                if (stop.stop_requested())
                    return;
                answer(result);
                self->updateRows();
            });
        }, QThread::HighPriority);
    };
    if (m_probes.ffmpegVersion)
        ask(m_probes.ffmpegVersion, [this](const std::optional<QString>& line) { m_ffmpegVersion = line; });
    if (m_probes.ffmpegLicence && !m_licenceKnown)
        ask(m_probes.ffmpegLicence, [this](const std::optional<QString>& text) {
            m_licence = text;
            m_licenceKnown = true;
        });
    if (m_probes.archiveFormats && !m_archiveFormats)
        ask([formats = m_probes.archiveFormats](std::stop_token) { return formats(); },
            [this](const QSet<QString>& formats) { m_archiveFormats = formats; });
}

void EnginesSettingsTab::stopProbes()
{
    if (m_stop)
        m_stop->request_stop();
    m_stop.reset();
}

void EnginesSettingsTab::checkAgain()
{
    if (!m_probes.refreshApps) {
        updateRows();
        return;
    }
    m_checkAgain->setEnabled(false);
    ++m_probing;
    const QPointer<EnginesSettingsTab> self(this);
    runInBackground([self, refresh = m_probes.refreshApps] {
        refresh();
        postToMainThread([self] {
            if (!self)
                return;
            --self->m_probing;
            self->m_checkAgain->setEnabled(true);
            self->updateRows();
        });
    }, QThread::HighPriority);
}

void EnginesSettingsTab::showLicense()
{
    if (!m_license)
        m_license = new LicenseView([] {}, licenceText(), this);
    m_license->setLicense(licenceText());
    m_license->open();
}

} // namespace qv

#pragma once

#include <QSet>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QLabel;
class QPushButton;

namespace qv {

class Capabilities;
class LicenseView;

// What this computer offers the engines: the built-in libraries, FFmpeg with its version,
// the archive formats, LibreOffice, pandoc and Ghostscript, and FFmpeg's licence. Everything that runs a program or
// reads the disk runs on a worker while the tab is shown, and is stopped when it hides.
class EnginesSettingsTab : public QWidget {
    Q_OBJECT
public:
    // One engine's row.
    struct Row;

    // The slow questions, asked on a worker thread; tests answer them themselves.
    struct Probes {
        std::function<std::optional<QString>(std::stop_token)> ffmpegVersion;
        // FFmpeg's "-L" text.
        std::function<std::optional<QString>(std::stop_token)> ffmpegLicence;
        std::function<QSet<QString>()> archiveFormats;
        // Looks for LibreOffice, pandoc and Ghostscript again.
        std::function<void()> refreshApps;
        static Probes system(Capabilities& capabilities);
    };

    EnginesSettingsTab(Capabilities& capabilities, Probes probes, QWidget* parent = nullptr);
    ~EnginesSettingsTab() override;

    const std::optional<QString>& ffmpegVersion() const { return m_ffmpegVersion; }
    QString ffmpegStatus() const;
    QString archivesStatus() const;
    QString libreOfficeStatus() const;
    QString pandocStatus() const;
    QString ghostscriptStatus() const;
    QString acknowledgement() const;

    // "Check Again": LibreOffice, pandoc and Ghostscript looked for again, every row rebuilt.
    void checkAgain();
    // "License and Sources…".
    void showLicense();
    LicenseView* licenseView() const { return m_license; }
    bool isProbing() const { return m_probing > 0; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void startProbes();
    void stopProbes();
    void updateRows();
    QString licenceText() const;

    Capabilities& m_capabilities;
    Probes m_probes;
    std::optional<QString> m_ffmpegVersion;
    std::optional<QString> m_licence;
    bool m_licenceKnown = false;
    std::optional<QSet<QString>> m_archiveFormats;
    std::shared_ptr<std::stop_source> m_stop;
    int m_probing = 0;
    std::unique_ptr<Row> m_ffmpegRow;
    std::unique_ptr<Row> m_archivesRow;
    std::unique_ptr<Row> m_libreOfficeRow;
    std::unique_ptr<Row> m_pandocRow;
    std::unique_ptr<Row> m_ghostscriptRow;
    QLabel* m_acknowledgement = nullptr;
    QPushButton* m_checkAgain = nullptr;
    LicenseView* m_license = nullptr;
};

} // namespace qv

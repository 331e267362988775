#include "Commands.h"

#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsSnapshot.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsCommands.h"
#include "settings/SettingsPanels.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <csignal>

namespace qv::dev {

namespace {

QJsonObject toJson(const SettingsSnapshot& s)
{
    QJsonObject suffixes;
    for (auto it = s.suffixes.cbegin(); it != s.suffixes.cend(); ++it)
        suffixes.insert(it.key(), it.value());
    return QJsonObject{
        {QStringLiteral("saveLocation"), toString(s.saveLocation)},
        {QStringLiteral("outputFolder"),
         s.outputFolder ? QJsonValue(s.outputFolder->toString()) : QJsonValue()},
        {QStringLiteral("fallbackFolder"), s.fallbackFolder.toString()},
        {QStringLiteral("suffixes"), suffixes},
        {QStringLiteral("preserveMetadata"), s.preserveMetadata},
        {QStringLiteral("preserveDates"), s.preserveDates},
        {QStringLiteral("jpegQuality"), s.jpegQuality},
        {QStringLiteral("heicQuality"), s.heicQuality},
        {QStringLiteral("webpQuality"), s.webpQuality},
        {QStringLiteral("avifQuality"), s.avifQuality},
        {QStringLiteral("imageMaxDimension"), s.imageMaxDimension},
        {QStringLiteral("alphaBackground"), s.alphaBackground},
        {QStringLiteral("videoCodec"), toString(s.videoCodec)},
        {QStringLiteral("videoPreset"), toString(s.videoPreset)},
        {QStringLiteral("videoMaxResolution"), s.videoMaxResolution},
        {QStringLiteral("videoAudioBitrate"), s.videoAudioBitrate},
        {QStringLiteral("hardwareEncoding"), s.hardwareEncoding},
        {QStringLiteral("mp3Bitrate"), s.mp3Bitrate},
        {QStringLiteral("aacBitrate"), s.aacBitrate},
        {QStringLiteral("sampleRate"), s.sampleRate},
        {QStringLiteral("pdfDPI"), s.pdfDPI},
        {QStringLiteral("pdfCompression"), toString(s.pdfCompression)},
        {QStringLiteral("pageSize"), toString(s.pageSize)},
    };
}

// The panels of the Advanced tab, answered from the command line.
class CommandLinePanels : public SettingsPanels {
public:
    explicit CommandLinePanels(QString file) : m_file(std::move(file)) {}
    std::optional<QString> chooseFolder(QWidget*, const QString&) override { return m_file; }
    std::optional<QString> chooseApplication(QWidget*) override { return m_file; }
    std::optional<QString> chooseExportFile(QWidget*) override { return m_file; }
    std::optional<QString> chooseImportFile(QWidget*) override { return m_file; }
    bool confirmReset(QWidget*) override { return true; }

private:
    QString m_file;
};

int usage()
{
    QTextStream(stderr) << "usage: quorvenda-dev settings [export FILE | import FILE | reset]\n";
    return 2;
}

// The Advanced tab's commands through the same code; prints the tab's message line.
int settingsCommand(SettingsStore& store, const QStringList& args)
{
    const QString& command = args.first();
    if ((command == QLatin1String("reset")) != (args.size() == 1) || args.size() > 2)
        return usage();
    CommandLinePanels panels(args.value(1));
    // The running Quorvenda owns the hot key; this process registers none.
    SettingsCommands commands({&store, &panels, {}});
    std::optional<QString> message;
    if (command == QLatin1String("export")) {
        // A file-size limit must fail the write, not end the process half-way.
        std::signal(SIGXFSZ, SIG_IGN);
        message = commands.exportSettings();
    } else if (command == QLatin1String("import")) {
        message = commands.importSettings();
    } else if (command == QLatin1String("reset")) {
        message = commands.resetSettings();
    } else {
        return usage();
    }
    if (!store.flush()) {
        QTextStream(stderr) << "The settings file could not be written\n";
        return 1;
    }
    QTextStream(stdout) << message.value_or(QString()) << '\n';
    return message && SettingsCommands::isSuccess(*message) ? 0 : 1;
}

} // namespace

int settings(const QStringList& args)
{
    SettingsStore& store = SettingsStore::shared();
    registerDefaultSettings(store);
    if (!args.isEmpty())
        return settingsCommand(store, args);
    QTextStream(stdout) << QJsonDocument(toJson(SettingsSnapshot::load(store)))
                               .toJson(QJsonDocument::Compact)
                        << '\n';
    return 0;
}

} // namespace qv::dev

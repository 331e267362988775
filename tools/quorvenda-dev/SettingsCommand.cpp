#include "Commands.h"

#include "model/SettingsDefaults.h"
#include "model/SettingsSnapshot.h"
#include "platform/SettingsStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

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

} // namespace

int settings(const QStringList& args)
{
    if (!args.isEmpty()) {
        QTextStream(stderr) << "usage: quorvenda-dev settings\n";
        return 2;
    }
    SettingsStore& store = SettingsStore::shared();
    registerDefaultSettings(store);
    QTextStream(stdout) << QJsonDocument(toJson(SettingsSnapshot::load(store)))
                               .toJson(QJsonDocument::Compact)
                        << '\n';
    return 0;
}

} // namespace qv::dev

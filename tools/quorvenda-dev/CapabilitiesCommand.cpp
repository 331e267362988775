#include "Commands.h"

#include "model/operations/Capabilities.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

namespace qv::dev {

namespace {

QJsonValue pathOrNull(const std::optional<QUrl>& url)
{
    return url ? QJsonValue(url->toLocalFile()) : QJsonValue(QJsonValue::Null);
}

QJsonArray sortedArray(const QSet<QString>& set)
{
    QStringList list(set.begin(), set.end());
    std::sort(list.begin(), list.end());
    return QJsonArray::fromStringList(list);
}

} // namespace

int capabilities(const QStringList& args)
{
    if (!args.isEmpty()) {
        QTextStream(stderr) << "usage: quorvenda-dev capabilities\n";
        return 2;
    }
    Capabilities& caps = Capabilities::shared();
    QJsonObject iwork;
    for (IWorkApp app : allCases<IWorkApp>()) {
        if (const auto url = caps.iworkAppURL(app))
            iwork.insert(toString(app), url->toLocalFile());
    }
    const QJsonObject result{
        {"ffmpeg", pathOrNull(caps.ffmpegURL())},
        {"soffice", pathOrNull(caps.libreOfficeURL())},
        {"pandoc", pathOrNull(caps.pandocURL())},
        {"ghostscript", pathOrNull(caps.ghostscriptURL())},
        {"iworkApps", iwork},
        {"imageReadable", sortedArray(caps.imageIOReadable())},
        {"imageWritable", sortedArray(caps.imageIOWritable())},
        {"archiveFormats", sortedArray(caps.probeArchiveFormats())},
        {"textRecognition", caps.isAvailable(EngineID::of(EngineID::Kind::vision))},
        {"subjectLifting", caps.subjectLifting()},
    };
    QTextStream(stdout) << QJsonDocument(result).toJson(QJsonDocument::Indented);
    return 0;
}

} // namespace qv::dev

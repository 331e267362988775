#include "catalogue/isolated/IsolatedReading.h"

#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/ContentAnswers.h"
#include "documents/readers/ZipPackageReader.h"
#include "engines/image/foreign/ImageHeader.h"
#include "engines/image/ImageTypes.h"
#include "engines/image/resample/ImageThumbnail.h"
#include "engines/media/MediaCategory.h"
#include "engines/pdf/PdfLock.h"
#include "jobs/WorkerPool.h"
#include "model/errors/Error.h"
#include "model/operations/Capabilities.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/sandbox/WorkerProtocol.h"
#include "platform/thumbnails/ThumbnailCache.h"
#include "platform/thumbnails/Thumbnailers.h"

#include <QBuffer>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <atomic>

namespace qv {

namespace {

std::atomic<bool> enabled = false;

// Qt's own readers decode whole for most formats: only for what libvips cannot read, and small.
constexpr qint64 qtReaderPixelLimit = 40'000'000;

std::optional<IsolatedReading::Header> readHeader(const QString& path, bool qtFallback)
{
    if (const std::optional<QSize> size = imagePixelSize(path)) {
        IsolatedReading::Header header;
        header.size = *size;
        header.alpha = imageHasAlpha(path).value_or(false);
        header.frames = imageFrameCount(path).value_or(1);
        return header;
    }
    if (!qtFallback)
        return std::nullopt;
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid())
        return std::nullopt;
    IsolatedReading::Header header;
    header.size = (reader.transformation() & QImageIOHandler::TransformationRotate90) ? size.transposed() : size;
    header.alpha = reader.imageFormat() != QImage::Format_Invalid && QImage(1, 1, reader.imageFormat()).hasAlphaChannel();
    header.frames = std::max(reader.imageCount(), 1);
    return header;
}

std::optional<QImage> readPicture(const QString& path, QSize box, bool wholeFile, bool qtFallback)
{
    if (std::optional<QImage> thumbnail = imageThumbnail(path, box, wholeFile))
        return thumbnail;
    if (!qtFallback)
        return std::nullopt;
    QImageReader reader(path);
    const QSize full = reader.size();
    if (full.isEmpty() || qint64(full.width()) * full.height() > qtReaderPixelLimit)
        return std::nullopt;
    reader.setAutoTransform(true);
    reader.setScaledSize(full.scaled(box, Qt::KeepAspectRatio).boundedTo(full));
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

// The preview an office package carries: OpenDocument files always, Office files when saved
// with one. Never larger than this.
constexpr qint64 packagePictureByteLimit = 8 << 20;

std::optional<QImage> readPackagePicture(const QString& path, QSize box, std::stop_token stop)
{
    static const QStringList names{QStringLiteral("Thumbnails/thumbnail.png"), QStringLiteral("docProps/thumbnail.jpeg"),
                                   QStringLiteral("docProps/thumbnail.jpg"), QStringLiteral("docProps/thumbnail.png")};
    QByteArray bytes;
    try {
        ZipPackageReader reader(path, {QStringLiteral("damaged"), QStringLiteral("too large")}, stop);
        reader.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
            if (bytes.isEmpty() && names.contains(name))
                bytes = entry.readAll(packagePictureByteLimit);
        });
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (bytes.isEmpty())
        return std::nullopt;
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    const QSize full = reader.size();
    if (full.isEmpty() || qint64(full.width()) * full.height() > qtReaderPixelLimit)
        return std::nullopt;
    reader.setScaledSize(full.scaled(box, Qt::KeepAspectRatio).boundedTo(full));
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

// The thumbnailer's picture of the file, drawn into a folder of our own.
std::optional<QImage> runThumbnailer(const QString& path, const QString& exec, QSize box, std::stop_token stop)
{
    const QTemporaryDir folder;
    if (!folder.isValid())
        return std::nullopt;
    const QString output = folder.filePath(QStringLiteral("thumbnail.png"));
    const QStringList words = Thumbnailers::command(exec, path, ThumbnailCache::fileUri(path), output,
                                                    std::max(box.width(), box.height()));
    if (words.isEmpty())
        return std::nullopt;
    const QString program = QDir::isAbsolutePath(words.first()) ? words.first()
                                                                 : QStandardPaths::findExecutable(words.first());
    if (program.isEmpty())
        return std::nullopt;
    try {
        const ProcessRunner::Output ran = ProcessRunner::run(QUrl::fromLocalFile(program), words.mid(1), stop,
                                                             std::nullopt, QUrl::fromLocalFile(folder.path()));
        if (ran.status != 0 || ran.terminatedBySignal)
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return readPicture(output, box, true, true);
}

qint64 memoryLimit()
{
    const int megabytes = Settings::shared().intValue(SettingsKey::workerMemory);
    return qint64(megabytes >= 256 ? megabytes : 4096) << 20;
}

// A worker's answer, or nothing when the file could not be read there (the worker's death
// included).
std::optional<QJsonObject> ask(const QString& name, const QJsonObject& arguments, std::stop_token stop = {},
                               std::chrono::milliseconds limit = WorkerPool::callLimit,
                               std::chrono::milliseconds processorLimit = {})
{
    try {
        return catalogueWorkers().call(name, arguments, stop, memoryLimit(), limit, processorLimit);
    } catch (const Error&) {
        return std::nullopt;
    }
}

QString pathArgument(const QJsonObject& arguments)
{
    return arguments.value(QStringLiteral("path")).toString();
}

// A question about one file's contents: answered from what a look ahead found while the file is
// unchanged, else asked, and its answer kept for the next look at the same file.
std::optional<QJsonObject> askAboutContents(const QString& name, const QString& path)
{
    ContentAnswers& answers = ContentAnswers::shared();
    if (std::optional<QJsonObject> known = answers.find(name, path))
        return known;
    std::optional<QJsonObject> answer = ask(name, {{QStringLiteral("path"), path}});
    if (answer)
        answers.store(name, path, *answer);
    return answer;
}

QJsonObject frameCountAnswer(const QString& path)
{
    const std::optional<int> frames = imageFrameCount(path);
    return frames ? QJsonObject{{QStringLiteral("frames"), *frames}} : QJsonObject();
}

QJsonObject pdfLockAnswer(const QString& path)
{
    const std::optional<bool> locked = qv::pdfNeedsPassword(path);
    return locked ? QJsonObject{{QStringLiteral("locked"), *locked}} : QJsonObject();
}

// Absent when the streams could not be told in time: a later look may do better.
std::optional<QJsonObject> mediaStreamsAnswer(const QString& path, std::chrono::milliseconds limit)
{
    const std::optional<MediaStreams> streams = mediaStreamsOfFile(Capabilities::shared().ffmpegURL(), path, limit);
    if (!streams)
        return std::nullopt;
    QJsonObject answer{{QStringLiteral("video"), streams->video}, {QStringLiteral("audio"), streams->audio}};
    if (streams->description)
        answer.insert(QStringLiteral("description"), *streams->description);
    return answer;
}

std::optional<MediaStreams> mediaStreamsFromAnswer(const QJsonObject& answer)
{
    if (!answer.contains(QStringLiteral("video")))
        return std::nullopt;
    MediaStreams streams{answer.value(QStringLiteral("video")).toBool(), answer.value(QStringLiteral("audio")).toBool()};
    if (answer.value(QStringLiteral("description")).isString())
        streams.description = answer.value(QStringLiteral("description")).toString();
    return streams;
}

// What a media question waits at most for one file.
constexpr std::chrono::milliseconds mediaLookLimit{3000};

} // namespace

void IsolatedReading::setEnabled(bool on)
{
    enabled = on;
}

bool IsolatedReading::isEnabled()
{
    return enabled;
}

std::optional<IsolatedReading::Header> IsolatedReading::header(const QString& path, bool qtFallback,
                                                               std::stop_token stop)
{
    if (!enabled)
        return readHeader(path, qtFallback);
    const std::optional<QJsonObject> answer =
        ask(QStringLiteral("header"), {{QStringLiteral("path"), path}, {QStringLiteral("qt"), qtFallback}}, stop);
    if (!answer || !answer->contains(QStringLiteral("width")))
        return std::nullopt;
    Header header;
    header.size = QSize(answer->value(QStringLiteral("width")).toInt(), answer->value(QStringLiteral("height")).toInt());
    header.alpha = answer->value(QStringLiteral("alpha")).toBool();
    header.frames = answer->value(QStringLiteral("frames")).toInt(1);
    return header;
}

std::optional<QImage> IsolatedReading::picture(const QString& path, QSize box, bool wholeFile, bool qtFallback,
                                               std::stop_token stop)
{
    if (!enabled)
        return readPicture(path, box, wholeFile, qtFallback);
    const std::optional<QJsonObject> answer =
        ask(QStringLiteral("picture"),
            {{QStringLiteral("path"), path},
             {QStringLiteral("width"), box.width()},
             {QStringLiteral("height"), box.height()},
             {QStringLiteral("whole"), wholeFile},
             {QStringLiteral("qt"), qtFallback}},
            stop);
    if (!answer)
        return std::nullopt;
    return WorkerProtocol::pictureFromJson(answer->value(QStringLiteral("picture")));
}

std::optional<QImage> IsolatedReading::packagePicture(const QString& path, QSize box, std::stop_token stop)
{
    if (!enabled)
        return readPackagePicture(path, box, stop);
    const std::optional<QJsonObject> answer =
        ask(QStringLiteral("packagePicture"),
            {{QStringLiteral("path"), path}, {QStringLiteral("width"), box.width()}, {QStringLiteral("height"), box.height()}},
            stop);
    if (!answer)
        return std::nullopt;
    return WorkerProtocol::pictureFromJson(answer->value(QStringLiteral("picture")));
}

std::optional<QImage> IsolatedReading::thumbnailerPicture(const QString& path, const QString& exec, QSize box,
                                                          std::stop_token stop)
{
    if (!enabled)
        return runThumbnailer(path, exec, box, stop);
    const std::optional<QJsonObject> answer =
        ask(QStringLiteral("thumbnailer"),
            {{QStringLiteral("path"), path},
             {QStringLiteral("exec"), exec},
             {QStringLiteral("width"), box.width()},
             {QStringLiteral("height"), box.height()}},
            stop, std::chrono::seconds(thumbnailerSeconds));
    if (!answer)
        return std::nullopt;
    return WorkerProtocol::pictureFromJson(answer->value(QStringLiteral("picture")));
}

std::optional<int> IsolatedReading::frameCount(const QString& path)
{
    if (!enabled)
        return imageFrameCount(path);
    const std::optional<QJsonObject> answer = askAboutContents(QStringLiteral("frameCount"), path);
    if (!answer || !answer->contains(QStringLiteral("frames")))
        return std::nullopt;
    return answer->value(QStringLiteral("frames")).toInt();
}

std::optional<bool> IsolatedReading::pdfNeedsPassword(const QString& path)
{
    if (!enabled)
        return qv::pdfNeedsPassword(path);
    const std::optional<QJsonObject> answer = askAboutContents(QStringLiteral("pdfNeedsPassword"), path);
    if (!answer || !answer->contains(QStringLiteral("locked")))
        return std::nullopt;
    return answer->value(QStringLiteral("locked")).toBool();
}

void IsolatedReading::lookAhead(const FilesAhead& files)
{
    if (!enabled)
        return;
    ContentAnswers& answers = ContentAnswers::shared();
    struct Asked {
        QString question;
        QString path;
    };
    QList<Asked> unknown;
    const auto add = [&](const QStringList& paths, const QString& question) {
        for (const QString& path : paths)
            if (!answers.find(question, path))
                unknown.append({question, path});
    };
    add(files.pdfs, QStringLiteral("pdfNeedsPassword"));
    add(files.animations, QStringLiteral("frameCount"));
    add(files.media, QStringLiteral("mediaStreams"));
    if (unknown.size() < 2)
        return;
    for (qsizetype start = 0; start < unknown.size(); start += lookAheadBatch) {
        const QList<Asked> batch = unknown.mid(start, lookAheadBatch);
        QJsonArray asked;
        for (const Asked& one : batch)
            asked.append(QJsonObject{{QStringLiteral("question"), one.question}, {QStringLiteral("path"), one.path}});
        // A worker that dies or overruns on one of them leaves each to be asked alone.
        const std::optional<QJsonObject> answer = ask(QStringLiteral("lookAhead"), {{QStringLiteral("files"), asked}});
        if (!answer)
            continue;
        const QJsonArray found = answer->value(QStringLiteral("answers")).toArray();
        if (found.size() != batch.size())
            continue;
        for (qsizetype i = 0; i < batch.size(); ++i)
            if (found.at(i).isObject())
                answers.store(batch.at(i).question, batch.at(i).path, found.at(i).toObject());
    }
}

std::optional<MediaStreams> IsolatedReading::mediaStreams(const QString& path, std::chrono::milliseconds limit)
{
    if (!enabled)
        return mediaStreamsOfFile(Capabilities::shared().ffmpegURL(), path, limit);
    if (const std::optional<QJsonObject> known = ContentAnswers::shared().find(QStringLiteral("mediaStreams"), path))
        return mediaStreamsFromAnswer(*known);
    // The limit is the look's processor time: on a busy machine an honest look waits longer for
    // its share, and one told too late would offer a soundless video its sound tools.
    const std::chrono::milliseconds waited = std::min<std::chrono::milliseconds>(10 * limit, WorkerPool::callLimit);
    const std::optional<QJsonObject> answer =
        ask(QStringLiteral("mediaStreams"), {{QStringLiteral("path"), path}, {QStringLiteral("ms"), qint64(waited.count())}},
            {}, waited, limit);
    if (!answer)
        return std::nullopt;
    return mediaStreamsFromAnswer(*answer);
}

std::optional<QSet<QString>> IsolatedReading::imageFormatIds(bool writable)
{
    if (!enabled)
        return writable ? vipsWritableFormatIds() : vipsReadableFormatIds();
    const std::optional<QJsonObject> answer =
        ask(QStringLiteral("imageFormatIds"), {{QStringLiteral("writable"), writable}});
    if (!answer || !answer->value(QStringLiteral("ids")).isArray())
        return std::nullopt;
    QSet<QString> ids;
    for (const QJsonValue& id : answer->value(QStringLiteral("ids")).toArray())
        ids.insert(id.toString());
    return ids;
}

WorkerServer::Calls IsolatedReading::workerCalls()
{
    WorkerServer::Calls calls;
    calls.insert(QStringLiteral("imageFormatIds"), [](const QJsonObject& arguments) {
        const QSet<QString> ids = arguments.value(QStringLiteral("writable")).toBool() ? vipsWritableFormatIds()
                                                                                       : vipsReadableFormatIds();
        QStringList sorted(ids.begin(), ids.end());
        sorted.sort();
        return QJsonObject{{QStringLiteral("ids"), QJsonArray::fromStringList(sorted)}};
    });
    calls.insert(QStringLiteral("mediaStreams"), [](const QJsonObject& arguments) {
        const std::chrono::milliseconds limit{
            std::clamp<qint64>(arguments.value(QStringLiteral("ms")).toInteger(), 0, WorkerPool::callLimit.count())};
        return mediaStreamsAnswer(pathArgument(arguments), limit).value_or(QJsonObject());
    });
    calls.insert(QStringLiteral("header"), [](const QJsonObject& arguments) {
        const std::optional<Header> header = readHeader(pathArgument(arguments), arguments.value(QStringLiteral("qt")).toBool());
        if (!header)
            return QJsonObject();
        return QJsonObject{{QStringLiteral("width"), header->size.width()},
                           {QStringLiteral("height"), header->size.height()},
                           {QStringLiteral("alpha"), header->alpha},
                           {QStringLiteral("frames"), header->frames}};
    });
    calls.insert(QStringLiteral("picture"), [](const QJsonObject& arguments) {
        const QSize box(arguments.value(QStringLiteral("width")).toInt(), arguments.value(QStringLiteral("height")).toInt());
        const std::optional<QImage> picture =
            readPicture(pathArgument(arguments), box, arguments.value(QStringLiteral("whole")).toBool(),
                        arguments.value(QStringLiteral("qt")).toBool());
        if (!picture || picture->isNull())
            return QJsonObject();
        return QJsonObject{{QStringLiteral("picture"),
                            WorkerProtocol::pictureToJson(*picture, qEnvironmentVariable("TMPDIR"))}};
    });
    calls.insert(QStringLiteral("packagePicture"), [](const QJsonObject& arguments) {
        const QSize box(arguments.value(QStringLiteral("width")).toInt(), arguments.value(QStringLiteral("height")).toInt());
        const std::optional<QImage> picture = readPackagePicture(pathArgument(arguments), box, {});
        if (!picture || picture->isNull())
            return QJsonObject();
        return QJsonObject{{QStringLiteral("picture"),
                            WorkerProtocol::pictureToJson(*picture, qEnvironmentVariable("TMPDIR"))}};
    });
    calls.insert(QStringLiteral("thumbnailer"), [](const QJsonObject& arguments) {
        const QSize box(arguments.value(QStringLiteral("width")).toInt(), arguments.value(QStringLiteral("height")).toInt());
        const std::optional<QImage> picture =
            runThumbnailer(pathArgument(arguments), arguments.value(QStringLiteral("exec")).toString(), box, {});
        if (!picture || picture->isNull())
            return QJsonObject();
        return QJsonObject{{QStringLiteral("picture"),
                            WorkerProtocol::pictureToJson(*picture, qEnvironmentVariable("TMPDIR"))}};
    });
    calls.insert(QStringLiteral("frameCount"), [](const QJsonObject& arguments) {
        return frameCountAnswer(pathArgument(arguments));
    });
    calls.insert(QStringLiteral("pdfNeedsPassword"), [](const QJsonObject& arguments) {
        return pdfLockAnswer(pathArgument(arguments));
    });
    calls.insert(QStringLiteral("lookAhead"), [](const QJsonObject& arguments) {
        QJsonArray answers;
        for (const QJsonValue& asked : arguments.value(QStringLiteral("files")).toArray()) {
            const QString question = asked[QStringLiteral("question")].toString();
            const QString path = asked[QStringLiteral("path")].toString();
            if (question == QLatin1String("pdfNeedsPassword"))
                answers.append(pdfLockAnswer(path));
            else if (question == QLatin1String("frameCount"))
                answers.append(frameCountAnswer(path));
            else if (question == QLatin1String("mediaStreams")) {
                // A file not told in time is left to be asked alone later.
                const std::optional<QJsonObject> streams = mediaStreamsAnswer(path, mediaLookLimit);
                answers.append(streams ? QJsonValue(*streams) : QJsonValue());
            }
            else
                answers.append(QJsonValue());
        }
        return QJsonObject{{QStringLiteral("answers"), answers}};
    });
    return calls;
}

} // namespace qv

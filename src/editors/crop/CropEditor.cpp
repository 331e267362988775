#include "editors/crop/CropEditor.h"

#include "editors/crop/CropEditorView.h"
#include "editors/EditorOpening.h"
#include "editors/EditorPicture.h"
#include "engines/media/arguments/StreamCopyArguments.h"
#include "engines/media/probe/MediaProbe.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/Capabilities.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolderRegistry.h"
#include "platform/processes/FFmpegInvocation.h"
#include "platform/ui/EditorWindow.h"
#include "platform/ui/WindowPlacement.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QUuid>

#include <cmath>
#include <memory>

namespace qv {

namespace {

constexpr int previewSide = 1600;

// Loads still under way stop when the application quits.
std::stop_source& quitStop()
{
    static std::stop_source source;
    static const bool connected = [] {
        if (auto* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [] { source.request_stop(); });
        return true;
    }();
    Q_UNUSED(connected);
    return source;
}

// Removes the file when it goes out of scope, whatever happened.
struct RemovedFile {
    QString path;
    ~RemovedFile()
    {
        QFile::remove(path);
        WorkFolderRegistry::remove(path);
    }
};

QImage shrunk(const QImage& picture)
{
    const int longer = std::max(picture.width(), picture.height());
    if (longer <= previewSide)
        return picture;
    return picture.scaled(picture.size().scaled(previewSide, previewSide, Qt::KeepAspectRatio), Qt::IgnoreAspectRatio,
                          Qt::SmoothTransformation);
}

} // namespace

QImage CropEditor::loadVideoFrame(const FileInfo& file, std::stop_token stop)
{
    const std::optional<QUrl>& ffmpeg = Capabilities::shared().ffmpegURL();
    const MediaInfo info = probeMediaInfo(ffmpeg, file.url, stop);
    const QString root = TemporaryRoot::secure();
    const QString output = root + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
                           + QStringLiteral(".png");
    WorkFolderRegistry::add(output);
    const RemovedFile removal{output};
    const double seconds =
        info.duration && std::isfinite(*info.duration) && *info.duration > 0 ? *info.duration / 2 : 0.0;
    if (!ffmpeg)
        throw EngineError(QStringLiteral("FFmpeg is missing from this copy of Quorvenda"));
    const ProcessRunner::Output run =
        runFFmpeg(ffmpeg, frameGrabArgs(file.url, QUrl::fromLocalFile(output), seconds), stop);
    throwIfCancelled(stop);
    checkFFmpegRun(run);
    QImage frame(output);
    if (frame.isNull())
        throw EngineError(QStringLiteral("The frame couldn't be read"));
    return frame;
}

CropEditor::Picture CropEditor::load(const FileInfo& file, std::stop_token stop)
{
    if (file.category == FileCategory::video) {
        const QImage frame = loadVideoFrame(file, stop);
        return {shrunk(frame), frame.size()};
    }
    const EditorPicture shown = EditorPicture::load(file.path(), previewSide);
    return {shown.preview, shown.pixelSize};
}

void CropEditor::open(const FileInfo& file, QPointF point, Completion completion)
{
    const std::stop_token stop = quitStop().get_token();
    openWhenLoaded<Picture>(
        file, [file, stop] { return load(file, stop); },
        QStringLiteral("Couldn't open %1 for cropping").arg(file.name),
        [file, point, completion = std::move(completion)](Picture& picture) {
            auto window = std::make_shared<QPointer<EditorWindow>>();
            auto* view = new CropEditorView(
                picture.preview, picture.pixelSize, [window] { finishEditor(*window); },
                [window, completion](QRect rect) {
                    finishEditor(*window);
                    OperationOptions options;
                    options.cropRect = QRectF(rect);
                    if (completion)
                        completion(options);
                });
            *window = presentInEditorWindow(QStringLiteral("Crop ") + file.name, false, {}, view, point);
        });
}

} // namespace qv

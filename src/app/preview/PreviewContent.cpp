#include "app/preview/PreviewContent.h"

#include "app/float/FloatPanelLayout.h"
#include "app/preview/DocumentPreview.h"
#include "app/preview/MediaView.h"
#include "app/preview/PdfPreview.h"
#include "app/preview/PictureView.h"
#include "catalogue/isolated/IsolatedDocumentReading.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "catalogue/SystemServices.h"
#include "engines/media/MediaCategory.h"
#include "model/files/FileInfo.h"
#include "platform/processes/ThreadCall.h"

#include <QBoxLayout>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStringDecoder>

#include <cmath>

namespace qv {
namespace {

// Past this a header is more likely hostile than a photo: reading it would hold the main
// thread for minutes, so the panel stays empty.
constexpr double pictureLimit = 1'000'000'000;

QSize devicePixels(QSizeF size, double ratio)
{
    return {int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio))};
}

std::optional<QImage> readPicture(const QString& path, QSize box)
{
    return IsolatedReading::picture(path, box, false, true);
}

PreviewContent imageContent(const FileInfo& file, double ratio, QWidget* parent)
{
    const QString path = file.path();
    auto* view = new PictureView(parent);
    QSizeF pixels;
    if (const auto header = IsolatedReading::header(path, true))
        pixels = header->size;
    const QSizeF size = fittedPanelSize(pixels.width() / ratio, pixels.height() / ratio,
                                        floatLayout::longestSide);
    const QSize box = devicePixels(size, ratio);
    if (!pixels.isEmpty() && pixels.width() * pixels.height() <= pictureLimit) {
        if (auto image = readPicture(path, box)) {
            image->setDevicePixelRatio(ratio);
            view->setImage(*image);
            view->setSource(path, pixels.toSize());
            // The first frame shows at once; the animation follows once its frames are read.
            if (file.frameCount > 1)
                view->loadAnimation(pixels.toSize().scaled(box, Qt::KeepAspectRatio).boundedTo(pixels.toSize()));
        }
    }
    return {view, PreviewContent::Kind::image, size};
}

PreviewContent pdfContent(const FileInfo& file, QWidget* parent)
{
    auto* view = new PdfPreview(file.path(), parent);
    const QSizeF page = view->firstPageSize().value_or(QSizeF(420, 560));
    return {view, PreviewContent::Kind::pdf,
            fittedPanelSize(page.width(), page.height(), floatLayout::longestSide)};
}

QWidget* iconAndName(const FileInfo& file, QWidget* parent)
{
    auto* view = new QWidget(parent);
    auto* layout = new QVBoxLayout(view);
    auto* icon = new QLabel(view);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(QFileIconProvider().icon(QFileInfo(file.path())).pixmap(128, 128));
    auto* name = new QLabel(file.name, view);
    name->setAlignment(Qt::AlignCenter);
    name->setWordWrap(true);
    layout->addStretch(1);
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addStretch(1);
    return view;
}

PreviewContent genericContent(const FileInfo& file, double ratio, QWidget* parent)
{
    const QSizeF size = floatLayout::fallbackSize;
    // Read by our own readers, in a worker, while the view shows it is busy.
    if (IsolatedDocumentReading::reads(file))
        return {new DocumentPreview(file, iconAndName(file, nullptr), parent), PreviewContent::Kind::generic, size};
    QWidget* view = nullptr;
    if (!file.isDirectory) {
        if (auto picture = IsolatedReading::picture(file.path(), devicePixels(size, ratio))) {
            auto* pictureView = new PictureView(parent);
            picture->setDevicePixelRatio(ratio);
            pictureView->setImage(*picture);
            view = pictureView;
        } else if (auto text = textPreview(file.path())) {
            auto* textView = new QPlainTextEdit(parent);
            textView->setReadOnly(true);
            textView->setPlainText(*text);
            view = textView;
        }
    }
    if (!view)
        view = iconAndName(file, parent);
    return {view, PreviewContent::Kind::generic, size};
}

} // namespace

std::optional<QString> textPreview(const QString& path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray data = file.read(maxBytes);
    if (data.contains('\0'))
        return std::nullopt;
    // A read cut in the middle of a character is no reason to call the file binary.
    if (data.size() == maxBytes) {
        const qsizetype lastLine = data.lastIndexOf('\n');
        if (lastLine > 0)
            data.truncate(lastLine + 1);
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

namespace {

// Without waiting on FFmpeg: a video not looked into yet (the wheel looks into what it opens
// for) shows as its name says, and is looked into meanwhile for the next time.
FileInfo previewFileInfo(const QUrl& url)
{
    const FileInfo file = fileInfoForURL(url, probeWithoutWaiting());
    if (file.format && file.format->category == FileCategory::video && !file.isDirectory && !file.hasAudio)
        runInBackground([path = file.path()] { mediaStreamsOfFile(path); });
    return file;
}

} // namespace

PreviewContent makePreviewContent(const QUrl& url, double devicePixelRatio, QWidget* parent)
{
    const FileInfo file = previewFileInfo(url);
    const double ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    switch (file.category) {
    case FileCategory::image:
        return imageContent(file, ratio, parent);
    case FileCategory::pdf:
        return pdfContent(file, parent);
    case FileCategory::video:
    case FileCategory::audio: {
        const bool video = file.category == FileCategory::video;
        auto* media = new MediaView(url, video, parent);
        return {media, video ? PreviewContent::Kind::video : PreviewContent::Kind::audio,
                video ? QSizeF(480, 270) : QSizeF(480, 120), media};
    }
    default:
        return genericContent(file, ratio, parent);
    }
}

} // namespace qv

#pragma once

#include <QSizeF>
#include <QString>
#include <QUrl>

#include <optional>

class QWidget;

namespace qv {

class MediaView;

// What a float panel or the preview window shows for a file, chosen by its category.
struct PreviewContent {
    enum class Kind { image, video, audio, pdf, generic };

    QWidget* view = nullptr;
    Kind kind = Kind::generic;
    QSizeF size;                // the initial content size, in device-independent pixels
    MediaView* media = nullptr; // for video and audio
    bool keepsAspect() const { return kind != Kind::generic && size.width() > 0 && size.height() > 0; }
};

// Never fails: an unreadable file gets an empty view of its kind. Pictures come from a
// thumbnail made at the panel's size times the device pixel ratio.
PreviewContent makePreviewContent(const QUrl& url, double devicePixelRatio, QWidget* parent);

// The first lines of a text file, at most maxBytes read; absent when it does not look like
// UTF-8 text.
std::optional<QString> textPreview(const QString& path, qint64 maxBytes = 64 * 1024);

} // namespace qv

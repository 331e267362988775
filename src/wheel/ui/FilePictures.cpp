#include "wheel/ui/FilePictures.h"

#include "catalogue/isolated/IsolatedDocumentReading.h"
#include "catalogue/isolated/IsolatedPdfReading.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "graphics/SymbolTable.h"
#include "model/Log.h"
#include "model/operations/Capabilities.h"
#include "platform/files/InputFile.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/FFmpegInvocation.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/processes/ThreadCall.h"
#include "platform/thumbnails/ThumbnailCache.h"
#include "platform/thumbnails/Thumbnailers.h"

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

namespace qv {

namespace {

struct CategoryLook {
    const char* symbol;
    QRgb color;
};

CategoryLook lookOf(FileCategory category)
{
    switch (category) {
    case FileCategory::image: return {"photo.on.rectangle", 0xFF2F80ED};
    case FileCategory::video: return {"play.fill", 0xFF8E44AD};
    case FileCategory::audio: return {"waveform", 0xFFE8590C};
    case FileCategory::pdf: return {"doc.richtext", 0xFFD63031};
    case FileCategory::document: return {"doc.richtext", 0xFF1C6DD0};
    case FileCategory::presentation: return {"pip", 0xFFE67E22};
    case FileCategory::spreadsheet: return {"tablecells", 0xFF1E8E3E};
    case FileCategory::ebook: return {"doc.on.doc", 0xFF6D4C41};
    case FileCategory::subtitle: return {"text.bubble", 0xFF00897B};
    case FileCategory::archive: return {"doc.zipper", 0xFF7F8C8D};
    case FileCategory::folder: return {"folder", 0xFF3D8BD9};
    case FileCategory::other: break;
    }
    return {"doc.on.doc", 0xFF607D8B};
}

QString genericIconName(FileCategory category)
{
    switch (category) {
    case FileCategory::image: return QStringLiteral("image-x-generic");
    case FileCategory::video: return QStringLiteral("video-x-generic");
    case FileCategory::audio: return QStringLiteral("audio-x-generic");
    case FileCategory::pdf:
    case FileCategory::document:
    case FileCategory::ebook: return QStringLiteral("x-office-document");
    case FileCategory::presentation: return QStringLiteral("x-office-presentation");
    case FileCategory::spreadsheet: return QStringLiteral("x-office-spreadsheet");
    case FileCategory::subtitle: return QStringLiteral("text-x-generic");
    case FileCategory::archive: return QStringLiteral("package-x-generic");
    case FileCategory::folder: return QStringLiteral("folder");
    case FileCategory::other: break;
    }
    return QStringLiteral("text-x-generic");
}

// The theme's icon, from the type's own name to its category's; names are looked up once, as a
// theme's lookup reads folders. Main thread only.
std::optional<QImage> themeIcon(const QStringList& names, int side)
{
    static QHash<QString, std::optional<QImage>> known;
    const QString key = names.join(QLatin1Char('|')) + QLatin1Char('|') + QString::number(side);
    if (const auto it = known.constFind(key); it != known.constEnd())
        return *it;
    std::optional<QImage> found;
    for (const QString& name : names) {
        if (name.isEmpty() || !QIcon::hasThemeIcon(name))
            continue;
        const QImage image = QIcon::fromTheme(name).pixmap(side, side).toImage();
        if (!image.isNull()) {
            found = image;
            break;
        }
    }
    if (known.size() > 200)
        known.clear();
    known.insert(key, found);
    return found;
}

QString labelOf(const FileInfo& file)
{
    if (file.isDirectory)
        return QString();
    if (file.format && file.format->id != QLatin1String("raw"))
        return file.format->label;
    return file.ext.toUpper().left(5);
}

std::optional<QImage> videoFrame(const QString& path, int side, bool cover, std::stop_token stop)
{
    const std::optional<QUrl>& program = Capabilities::shared().ffmpegURL();
    if (!program)
        return std::nullopt;
    // A second in, past a fade from black; a shorter video from its start.
    for (const double seconds : cover ? QList<double>{0} : QList<double>{1, 0}) {
        if (stop.stop_requested())
            return std::nullopt;
        const ProcessRunner::Output output =
            ProcessRunner::run(*program, centreFrameArguments(path, side, seconds, cover), stop,
                               QHash<QString, QString>{}, QUrl::fromLocalFile(TemporaryRoot::path()));
        if (output.status != 0 || output.terminatedBySignal || output.stdoutData.isEmpty()) {
            qCDebug(wheelLog) << "No frame at" << seconds << ":" << output.stderrText().trimmed();
            continue;
        }
        const QImage image = QImage::fromData(output.stdoutData, "PPM");
        if (!image.isNull())
            return image;
    }
    return std::nullopt;
}

// A page of what a text, a document, a sheet, an archive or subtitles hold, as our readers
// read them behind the walls: the picture of a file without one of its own.
std::optional<QImage> readPage(const FileInfo& file, int side, std::stop_token stop)
{
    const std::optional<IsolatedDocumentReading::Preview> preview = IsolatedDocumentReading::preview(file, stop);
    if (!preview || preview->blocks.isEmpty())
        return std::nullopt;
    const QImage page = pagePicture(*preview, side);
    if (page.isNull())
        return std::nullopt;
    return page;
}

std::optional<QImage> contentPicture(const FileInfo& file, int side, std::stop_token stop)
{
    const QString path = file.path();
    const QSize box(side, side);
    switch (file.category) {
    case FileCategory::image:
        return IsolatedReading::picture(path, box, false, true, stop);
    case FileCategory::pdf: {
        if (file.isEncrypted)
            return std::nullopt;
        QImage page = IsolatedPdfReading::page(path, std::nullopt, 0, box, stop,
                                               IsolatedPdfReading::Damage::drawn).picture;
        if (page.isNull())
            return std::nullopt;
        return page;
    }
    case FileCategory::video:
    case FileCategory::audio:
        TemporaryRoot::secure();
        return videoFrame(path, side, file.category == FileCategory::audio, stop);
    case FileCategory::document:
    case FileCategory::presentation:
    case FileCategory::spreadsheet:
        if (std::optional<QImage> carried = IsolatedReading::packagePicture(path, box, stop))
            return carried;
        return readPage(file, side, stop);
    case FileCategory::ebook:
    case FileCategory::subtitle:
    case FileCategory::archive:
        return readPage(file, side, stop);
    default:
        return std::nullopt;
    }
}

// The desktop's picture of the file: one a file manager made already, read without running
// anything, else one an installed thumbnailer draws behind the worker's walls.
std::optional<QImage> desktopPicture(const FileInfo& file, int side, std::stop_token stop)
{
    const QString path = file.path();
    const QSize box(side, side);
    if (const std::optional<QString> cached = ThumbnailCache::validThumbnail(path, side)) {
        if (std::optional<QImage> picture = IsolatedReading::picture(*cached, box, true, true, stop))
            return picture;
    }
    if (stop.stop_requested())
        return std::nullopt;
    // By the name alone: the file's bytes are read behind the walls only.
    static const QMimeDatabase types;
    const QMimeType type = types.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    // librsvg opened by the file's path draws what an SVG includes from the files beside it;
    // our own decoder draws SVGs from their bytes alone.
    if (type.inherits(QStringLiteral("image/svg+xml")) || type.inherits(QStringLiteral("image/svg+xml-compressed")))
        return std::nullopt;
    if (const std::optional<Thumbnailers::Thumbnailer> thumbnailer = Thumbnailers::forType(Thumbnailers::installed(), type))
        return IsolatedReading::thumbnailerPicture(path, thumbnailer->exec, box, stop);
    return std::nullopt;
}

} // namespace

QStringList centreFrameArguments(const QString& path, int side, double seconds, bool cover)
{
    QStringList arguments{"-nostdin", "-hide_banner", "-loglevel", "error"};
    if (seconds > 0)
        arguments += {"-ss", QString::number(seconds, 'f', 3)};
    const QString size = QString::number(std::max(side, 1));
    // A cover is the audio file's attached picture, which "V" leaves out.
    return arguments + ffmpegInputArgs(path, std::nullopt)
        + QStringList{"-map", cover ? "0:v:0" : "0:V:0", "-an", "-sn", "-frames:v", "1", "-vf",
                      "scale=" + size + ":" + size + ":force_original_aspect_ratio=decrease",
                      "-c:v", "ppm", "-f", "image2pipe", "pipe:1"};
}

QImage pagePicture(const IsolatedDocumentReading::Preview& preview, int side)
{
    if (side < 8)
        return {};
    const int height = side;
    const int width = int(std::lround(side * 0.77));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF sheet(0.5, 0.5, width - 1.0, height - 1.0);
    painter.setPen(QPen(QColor(0, 0, 0, 60), 1));
    painter.setBrush(Qt::white);
    painter.drawRect(sheet);
    const double margin = std::max(2.0, side * 0.07);
    const QRectF text = sheet.adjusted(margin, margin, -margin, -margin);
    painter.setClipRect(text);
    QFont font = painter.font();
    font.setPixelSize(std::max(4, side / 16));
    const auto write = [&](const QString& words, bool bold, double& y) {
        QFont look = font;
        look.setBold(bold);
        painter.setFont(look);
        const QRectF room(text.left(), y, text.width(), text.bottom() - y);
        QRectF used;
        painter.drawText(room, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, words, &used);
        y += std::max(used.height(), double(font.pixelSize())) + font.pixelSize() * 0.3;
    };
    painter.setPen(QColor(0x33, 0x33, 0x33));
    double y = text.top();
    // A title the text begins with anyway is written once.
    if (!preview.title.isEmpty()
        && (preview.blocks.isEmpty() || preview.blocks.first().text.trimmed() != preview.title.trimmed()))
        write(preview.title, true, y);
    for (const IsolatedDocumentReading::Block& block : preview.blocks) {
        if (y >= text.bottom())
            break;
        using Kind = IsolatedDocumentReading::Block::Kind;
        switch (block.kind) {
        case Kind::table:
            for (qsizetype r = 0; r < block.rows.size() && y < text.bottom(); ++r)
                write(block.rows[r].join(QStringLiteral("   ")), r == 0, y);
            break;
        case Kind::rule:
            painter.drawLine(QPointF(text.left(), y + 1), QPointF(text.right(), y + 1));
            y += font.pixelSize() * 0.6;
            break;
        case Kind::listItem:
            write(QStringLiteral("\u2022 ") + block.text, false, y);
            break;
        default:
            write(block.text.left(2000), block.kind == Kind::heading, y);
            break;
        }
    }
    return image;
}

QImage drawnFileIcon(FileCategory category, const QString& label, int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (side <= 0)
        return image;
    const CategoryLook look = lookOf(category);
    const QColor color = QColor::fromRgba(look.color);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = side / 96.0;

    if (category == FileCategory::folder) {
        // A filled folder in a warm colour with a dark edge: an outline in the category's blue
        // would vanish on the wheel's blue centre.
        const QColor body(0xFF, 0xC9, 0x5C);
        const QColor edge(0x9A, 0x6A, 0x12);
        QPainterPath back;
        back.moveTo(10 * s, 24 * s);
        back.lineTo(10 * s, 16 * s);
        back.quadTo(10 * s, 12 * s, 14 * s, 12 * s);
        back.lineTo(36 * s, 12 * s);
        back.lineTo(44 * s, 20 * s);
        back.lineTo(82 * s, 20 * s);
        back.quadTo(86 * s, 20 * s, 86 * s, 24 * s);
        back.lineTo(86 * s, 30 * s);
        back.lineTo(10 * s, 30 * s);
        back.closeSubpath();
        painter.setPen(QPen(edge, 2 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(body.darker(112));
        painter.drawPath(back);
        QPainterPath front;
        front.addRoundedRect(QRectF(10 * s, 28 * s, 76 * s, 56 * s), 5 * s, 5 * s);
        painter.setBrush(body);
        painter.drawPath(front);
        return image;
    }

    // A sheet with a folded corner, the category's symbol on it and the format's name below.
    const QRectF sheet(16 * s, 6 * s, 64 * s, 84 * s);
    const double fold = 18 * s;
    QPainterPath outline;
    outline.moveTo(sheet.left(), sheet.top());
    outline.lineTo(sheet.right() - fold, sheet.top());
    outline.lineTo(sheet.right(), sheet.top() + fold);
    outline.lineTo(sheet.right(), sheet.bottom());
    outline.lineTo(sheet.left(), sheet.bottom());
    outline.closeSubpath();
    painter.setPen(QPen(color.darker(115), 2 * s));
    painter.setBrush(QColor(250, 250, 252));
    painter.drawPath(outline);
    QPainterPath corner;
    corner.moveTo(sheet.right() - fold, sheet.top());
    corner.lineTo(sheet.right() - fold, sheet.top() + fold);
    corner.lineTo(sheet.right(), sheet.top() + fold);
    corner.closeSubpath();
    painter.setBrush(color.lighter(160));
    painter.drawPath(corner);

    const bool withLabel = !label.isEmpty() && side >= 32;
    const QRectF symbolBox(sheet.center().x() - 17 * s, sheet.top() + (withLabel ? 22 : 30) * s, 34 * s, 34 * s);
    paintSymbol(painter, QString::fromLatin1(look.symbol), symbolBox, color);
    if (withLabel) {
        const QRectF band(sheet.left() + 5 * s, sheet.bottom() - 24 * s, sheet.width() - 10 * s, 16 * s);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(band, 4 * s, 4 * s);
        QFont font;
        font.setBold(true);
        font.setPixelSize(std::max(1, int(11 * s)));
        const QString text = QFontMetricsF(font).elidedText(label, Qt::ElideRight, band.width() - 4 * s);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(band, Qt::AlignCenter, text);
    }
    return image;
}

std::optional<QImage> fileIcon(const FileInfo& file, int side)
{
    if (side <= 0)
        return std::nullopt;
    QStringList names;
    if (file.isDirectory) {
        names.append(QStringLiteral("folder"));
    } else {
        const QString type = file.contentType.value_or(file.format ? file.format->mimeType : QString());
        if (!type.isEmpty())
            names.append(QString(type).replace(QLatin1Char('/'), QLatin1Char('-')));
        names.append(genericIconName(file.category));
    }
    if (std::optional<QImage> icon = themeIcon(names, side))
        return icon;
    const FileCategory category = file.isDirectory ? FileCategory::folder : file.category;
    const QString label = labelOf(file);
    static QHash<QString, QImage> drawings;
    const QString key = toString(category) + QLatin1Char('|') + label + QLatin1Char('|') + QString::number(side);
    if (const auto it = drawings.constFind(key); it != drawings.constEnd())
        return *it;
    // Drawn at twice the size, for screens that count two pixels to a point.
    QImage drawn = drawnFileIcon(category, label, side * 2);
    drawn.setDevicePixelRatio(2);
    if (drawings.size() > 100)
        drawings.clear();
    drawings.insert(key, drawn);
    return drawn;
}

void loadThumbnail(const FileInfo& file, int side, std::stop_token stop, std::function<void(QImage)> done)
{
    // A pipe or device is never read, and a name that is not UTF-8 would read another file.
    if (file.isPromise || file.isDirectory || side <= 0 || InputFile::refusedFileMessage(file)) {
        done(QImage());
        return;
    }
    runInBackground([file, side, stop, done = std::move(done)] {
        std::optional<QImage> picture;
        try {
            picture = desktopPicture(file, side, stop);
            if (!picture && !stop.stop_requested())
                picture = contentPicture(file, side, stop);
        } catch (const std::exception& error) {
            // The icon stays.
            qCDebug(wheelLog) << "No picture of" << file.name << ":" << error.what();
        }
        if (!stop.stop_requested())
            done(picture.value_or(QImage()));
    });
}

} // namespace qv

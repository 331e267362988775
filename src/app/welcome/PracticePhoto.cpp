#include "app/welcome/PracticePhoto.h"

#include "engines/image/foreign/HeifWriter.h"
#include "model/operations/HexColor.h"
#include "platform/files/ExclusiveRename.h"
#include "platform/files/WorkFolder.h"

#include <QDir>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>

#include <cmath>
#include <memory>

#include <sys/stat.h>

namespace qv {

namespace {

constexpr int width = 1200;
constexpr int height = 800;

bool somethingAt(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

QColor hex(const QString& text)
{
    return colorFromHex(text).value_or(QColor(Qt::white));
}

} // namespace

QString PracticePhoto::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/quorvenda/Practice");
}

QImage PracticePhoto::paint()
{
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // The picture is drawn with y up, from the bottom edge.
    painter.translate(0, height);
    painter.scale(1, -1);

    QLinearGradient sky(QPointF(0, height), QPointF(0, 0));
    sky.setColorAt(0, hex(QStringLiteral("#2B3A8C")));
    sky.setColorAt(0.45, hex(QStringLiteral("#7B5CFF")));
    sky.setColorAt(0.8, hex(QStringLiteral("#FF9A62")));
    sky.setColorAt(1, hex(QStringLiteral("#FFD36E")));
    painter.fillRect(QRectF(0, 0, width, height), sky);

    painter.setBrush(hex(QStringLiteral("#FFF4D6")));
    painter.drawEllipse(QRectF(760, 330, 170, 170));

    struct Hill {
        const char* color;
        double base;
        double frequency;
    };
    static constexpr Hill hills[] = {
        {"#3E2C7A", 300, 0.004}, {"#24195A", 220, 0.006}, {"#140F38", 140, 0.009}};
    for (const Hill& hill : hills) {
        QPainterPath path(QPointF(0, 0));
        for (int x = 0; x <= width; x += 8) {
            const double f = hill.frequency;
            path.lineTo(x, hill.base + 60 * std::sin(f * x) + 30 * std::sin(2.7 * f * x + 1));
        }
        path.lineTo(width, 0);
        path.closeSubpath();
        path.setFillRule(Qt::WindingFill);
        painter.fillPath(path, hex(QString::fromLatin1(hill.color)));
    }
    painter.end();
    return image;
}

std::optional<QString> PracticePhoto::make(const QString& folder)
{
    const QString location = QDir(folder).filePath(fileName());
    if (somethingAt(location))
        return location;
    QDir().mkpath(folder);
    const QImage image = paint();
    if (image.isNull())
        return std::nullopt;
    // Written in a work folder on the same filesystem, so that moving it in is a rename and a
    // photo half written when the process died is cleaned up, never taken for the real one.
    std::shared_ptr<WorkFolder> work;
    try {
        work = WorkFolder::create(folder);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const QString temporary = QDir(work->path()).filePath(fileName());
    if (!writeHeif(image, temporary, quality))
        return std::nullopt;
    const int error = ExclusiveRename::move(temporary, location);
    if (error != 0) {
        // Another process may have made it meanwhile: then that one is the photo.
        if (error == EEXIST || error == ENOTEMPTY)
            return location;
        return std::nullopt;
    }
    return location;
}

} // namespace qv

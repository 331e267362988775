#include "PngFile.h"

#include "platform/files/FileContents.h"

#include <QBuffer>
#include <QTextStream>

namespace qv::dev {

bool writePng(const QImage& image, const QString& path)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        QTextStream(stderr) << "Could not encode " << path << " as PNG\n";
        return false;
    }
    if (const std::optional<SystemError> error = FileContents::replace(path, bytes)) {
        QTextStream(stderr) << "Could not write " << path << ": " << error->localizedDescription() << "\n";
        return false;
    }
    return true;
}

} // namespace qv::dev

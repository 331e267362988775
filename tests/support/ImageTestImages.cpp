#include "support/ImageTestImages.h"

#include <QProcess>

namespace qv::test {

QString writeHalfTransparentPng(const QString& path, int width, int height, int dpi)
{
    QImage image(width, height, QImage::Format_RGBA8888);
    image.fill(Qt::transparent);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width / 2; ++x)
            image.setPixelColor(x, y, QColor(255, 0, 0));
    image.setDotsPerMeterX(qRound(dpi / 0.0254));
    image.setDotsPerMeterY(qRound(dpi / 0.0254));
    return image.save(path) ? path : QString();
}

QString writeOpaqueImage(const QString& path, int width, int height, int dpi)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor(x * 255 / width, y * 255 / height, 128));
    image.setDotsPerMeterX(qRound(dpi / 0.0254));
    image.setDotsPerMeterY(qRound(dpi / 0.0254));
    return image.save(path, nullptr, 90) ? path : QString();
}

QByteArray programOutput(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return process.readAllStandardOutput();
}

QString vipsField(const QString& path, const QString& field)
{
    return QString::fromUtf8(programOutput(QStringLiteral("vipsheader"), {"-f", field, path})).trimmed();
}

QByteArray exivTags(const QString& path, const QString& mode)
{
    return programOutput(QStringLiteral("exiv2"), {mode, path});
}

} // namespace qv::test

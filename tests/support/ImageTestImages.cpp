#include "support/ImageTestImages.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>

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

QString writeGreyPng(const QString& path, int width, int height, int level)
{
    const QString black = path + QStringLiteral(".black.v");
    const bool made = QProcess::execute(QStringLiteral("vips"),
                                        {"black", black, QString::number(width), QString::number(height)})
            == 0
        && QProcess::execute(QStringLiteral("vips"), {"linear", black, path, "1", QString::number(level), "--uchar"})
            == 0;
    QFile::remove(black);
    return made ? path : QString();
}

QString writeCmykJpeg(const QString& path, int width, int height, const QColor& colour)
{
    const QString fill = QStringLiteral("xc:rgb(%1,%2,%3)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
    return QProcess::execute(QStringLiteral("convert"),
                             {"-size", QStringLiteral("%1x%2").arg(width).arg(height), fill, "-colorspace", "CMYK",
                              "-quality", "95", path})
            == 0
        ? path
        : QString();
}

QString writeNoisyImage(const QString& path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    QRandomGenerator random(11);
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width * 3; ++x)
            line[x] = uchar(random.bounded(256));
    }
    const QString png = path + QStringLiteral(".source.png");
    if (!image.save(png))
        return {};
    const bool made = QProcess::execute(QStringLiteral("vips"), {"copy", png, path}) == 0;
    QFile::remove(png);
    return made ? path : QString();
}

QString writeCutCopy(const QString& source, const QString& path)
{
    QFile in(source);
    QFile out(path);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return {};
    const QByteArray bytes = in.readAll();
    return out.write(bytes.left(bytes.size() / 2)) == bytes.size() / 2 ? path : QString();
}

QString writeScrambledCopy(const QString& source, const QString& path, double at, int count)
{
    QFile in(source);
    QFile out(path);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return {};
    QByteArray bytes = in.readAll();
    const qsizetype start = qsizetype(bytes.size() * at);
    for (qsizetype i = start; i < std::min(bytes.size(), start + count); ++i)
        bytes[i] = char(~bytes[i]);
    return out.write(bytes) == bytes.size() ? path : QString();
}

QString writeUndecodableWebp(const QString& path)
{
    const QString whole = writeNoisyImage(path + QStringLiteral(".whole.webp"));
    if (whole.isEmpty())
        return {};
    QFile in(whole);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = in.readAll();
    in.close();
    QFile::remove(whole);
    // Past the VP8 chunk's frame header (10 bytes), which the header reader checks.
    const qsizetype chunk = bytes.indexOf("VP8 ");
    if (chunk < 0)
        return {};
    for (qsizetype i = chunk + 8 + 10; i < chunk + 8 + 40; ++i)
        bytes[i] = char(~bytes[i]);
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() ? path : QString();
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

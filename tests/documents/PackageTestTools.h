#pragma once

#include "documents/readers/ZipPackageReader.h"

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// What the DOCX and EPUB tests share: reading a package back and making pictures.
namespace qv::test {

struct PackageContents {
    QStringList names; // in their order in the file
    QHash<QString, QByteArray> parts;
};

inline PackageContents readPackage(const QString& path)
{
    PackageContents contents;
    ZipPackageReader reader(path, {"damaged", "too large"}, {});
    reader.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
        contents.names.append(name);
        contents.parts.insert(name, entry.readAll(1 << 28));
    });
    return contents;
}

inline QByteArray encodedImage(int width, int height, const char* format, int dotsPerInch = 72)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.setDotsPerMeterX(qRound(dotsPerInch / 0.0254));
    image.setDotsPerMeterY(qRound(dotsPerInch / 0.0254));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace qv::test

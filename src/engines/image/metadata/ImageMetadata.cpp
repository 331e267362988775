#include "engines/image/metadata/ImageMetadata.h"

#include "model/errors/SystemError.h"
#include "model/Log.h"
#include "platform/files/FileItems.h"

#include <QFile>

#include <cerrno>

// Exiv2 0.27 hands images out as std::auto_ptr.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <mutex>

namespace qv {

namespace {

const QByteArray exifHeader("Exif\0\0", 6);

void quietExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
}

} // namespace

QByteArray ImageMetadata::uprightExif(const QByteArray& exif)
{
    quietExiv2();
    const bool headed = exif.startsWith(exifHeader);
    const QByteArray tiff = headed ? exif.mid(6) : exif;
    if (tiff.isEmpty())
        return {};
    try {
        Exiv2::ExifData data;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(
            data, reinterpret_cast<const Exiv2::byte*>(tiff.constData()), uint32_t(tiff.size()));
        data["Exif.Image.Orientation"] = uint16_t(1);
        for (const char* key : {"Exif.Photo.PixelXDimension", "Exif.Photo.PixelYDimension"}) {
            const auto it = data.findKey(Exiv2::ExifKey(key));
            if (it != data.end())
                data.erase(it);
        }
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order, data);
        if (blob.empty())
            return {};
        return exifHeader + QByteArray(reinterpret_cast<const char*>(blob.data()), qsizetype(blob.size()));
    } catch (const std::exception& error) {
        qCDebug(enginesLog, "Unreadable EXIF dropped: %s", error.what());
        return {};
    }
}

bool ImageMetadata::losslessCopy(const QString& source, const QString& destination, ImageOutput output,
                                 const CopyOptions& options)
{
    if (output != ImageOutput::jpg && output != ImageOutput::png && output != ImageOutput::tiff
        && output != ImageOutput::webp)
        return false;
    quietExiv2();
    if (const int error = FileItems::copy(source, destination)) {
        FileItems::remove(destination);
        if (error == ENOSPC || error == EDQUOT || error == EFBIG)
            throw SystemError::fromErrno(error, QStringLiteral("Cannot write ") + destination);
        return false;
    }
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(destination).toStdString());
        if (!image.get())
            throw Exiv2::Error(Exiv2::kerErrorMessage, "no image");
        image->readMetadata();
        if (options.removeMetadata) {
            image->clearExifData();
            image->clearIptcData();
            image->clearXmpData();
            // The packet as read is written back when the data is empty (Exiv2's WebP writer);
            // clearing it asks for the packet to be written, which the TIFF writer then takes
            // from what it read: the packet is cleared and the (empty) data written instead.
            image->clearXmpPacket();
            image->writeXmpFromPacket(false);
            image->clearComment();
        }
        if (options.orientation)
            image->exifData()["Exif.Image.Orientation"] = uint16_t(*options.orientation);
        image->writeMetadata();
        return true;
    } catch (const std::exception& error) {
        qCDebug(enginesLog, "Lossless copy failed: %s", error.what());
        QFile::remove(destination);
        return false;
    }
}

} // namespace qv

#pragma GCC diagnostic pop

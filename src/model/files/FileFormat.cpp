#include "model/files/FileFormat.h"

namespace qv {

namespace {

struct Row {
    const char* id;
    const char* label; // nullptr: the id in capitals
    FileCategory category;
    const char* extensions;
    const char* uti;
    const char* mime;
};

using C = FileCategory;

// clang-format off
constexpr Row kRows[] = {
    {"jpg", nullptr, C::image, "jpg jpeg jpe jfif", "public.jpeg", "image/jpeg"},
    {"png", nullptr, C::image, "png", "public.png", "image/png"},
    {"heic", nullptr, C::image, "heic hif", "public.heic", "image/heic"},
    {"heif", nullptr, C::image, "heif", "public.heif", "image/heif"},
    {"tiff", nullptr, C::image, "tif tiff", "public.tiff", "image/tiff"},
    {"gif", nullptr, C::image, "gif", "com.compuserve.gif", "image/gif"},
    {"bmp", nullptr, C::image, "bmp dib", "com.microsoft.bmp", "image/bmp"},
    {"webp", nullptr, C::image, "webp", "org.webmproject.webp", "image/webp"},
    {"avif", nullptr, C::image, "avif", "public.avif", "image/avif"},
    {"jxl", nullptr, C::image, "jxl", "public.jpeg-xl", "image/jxl"},
    {"ico", nullptr, C::image, "ico", "com.microsoft.ico", "image/vnd.microsoft.icon"},
    {"icns", nullptr, C::image, "icns", "com.apple.icns", "image/x-icns"},
    {"tga", nullptr, C::image, "tga", "com.truevision.tga-image", "image/x-tga"},
    {"psd", nullptr, C::image, "psd", "com.adobe.photoshop-image", "image/vnd.adobe.photoshop"},
    {"jp2", nullptr, C::image, "jp2 j2k jpf jpx jpm", "public.jpeg-2000", "image/jp2"},
    {"exr", nullptr, C::image, "exr", "com.ilm.openexr-image", "image/x-exr"},
    {"raw", nullptr, C::image, "dng cr2 cr3 crw nef nrw arw srf sr2 raf orf rw2 pef srw x3f erf 3fr kdc mos mrw iiq rwl", "public.camera-raw-image", "image/x-dcraw"},
    {"svg", nullptr, C::image, "svg", "public.svg-image", "image/svg+xml"},
    {"mp4", nullptr, C::video, "mp4", "public.mpeg-4", "video/mp4"},
    {"mov", nullptr, C::video, "mov qt", "com.apple.quicktime-movie", "video/quicktime"},
    {"m4v", nullptr, C::video, "m4v", "com.apple.m4v-video", "video/x-m4v"},
    {"mkv", nullptr, C::video, "mkv", "org.matroska.mkv", "video/x-matroska"},
    {"webm", nullptr, C::video, "webm", "org.webmproject.webm", "video/webm"},
    {"avi", nullptr, C::video, "avi", "public.avi", "video/x-msvideo"},
    {"wmv", nullptr, C::video, "wmv asf", "com.microsoft.windows-media-wmv", "video/x-ms-wmv"},
    {"flv", nullptr, C::video, "flv f4v", "com.adobe.flash.video", "video/x-flv"},
    {"ts", nullptr, C::video, "ts mts m2ts m2t", "public.mpeg-2-transport-stream", "video/mp2t"},
    {"3gp", nullptr, C::video, "3gp 3g2", "public.3gpp", "video/3gpp"},
    {"ogv", nullptr, C::video, "ogv", "org.xiph.ogv", "video/ogg"},
    {"mxf", nullptr, C::video, "mxf", "org.smpte.mxf", "application/mxf"},
    {"mpg", nullptr, C::video, "mpg mpeg m2v vob", "public.mpeg", "video/mpeg"},
    {"mp3", nullptr, C::audio, "mp3", "public.mp3", "audio/mpeg"},
    {"m4a", nullptr, C::audio, "m4a m4b", "com.apple.m4a-audio", "audio/mp4"},
    {"aac", nullptr, C::audio, "aac adts", "public.aac-audio", "audio/aac"},
    {"wav", nullptr, C::audio, "wav wave", "com.microsoft.waveform-audio", "audio/x-wav"},
    {"aiff", nullptr, C::audio, "aif aiff aifc", "public.aiff-audio", "audio/x-aiff"},
    {"caf", nullptr, C::audio, "caf", "com.apple.coreaudio-format", "audio/x-caf"},
    {"flac", nullptr, C::audio, "flac", "org.xiph.flac", "audio/flac"},
    {"ogg", nullptr, C::audio, "ogg oga", "org.xiph.ogg-audio", "audio/ogg"},
    {"opus", nullptr, C::audio, "opus", "org.xiph.opus", "audio/x-opus+ogg"},
    {"wma", nullptr, C::audio, "wma", "com.microsoft.windows-media-wma", "audio/x-ms-wma"},
    {"ape", nullptr, C::audio, "ape", "com.monkeysaudio.ape", "audio/x-ape"},
    {"ac3", nullptr, C::audio, "ac3 eac3", "public.ac3-audio", "audio/ac3"},
    {"dts", nullptr, C::audio, "dts", "public.dts-audio", "audio/vnd.dts"},
    {"amr", nullptr, C::audio, "amr", "org.3gpp.adaptive-multi-rate-audio", "audio/AMR"},
    {"mka", nullptr, C::audio, "mka", "org.matroska.mka", "audio/x-matroska"},
    {"m4r", nullptr, C::audio, "m4r", "com.apple.mpeg-4-ringtone", "audio/x-m4r"},
    {"wv", nullptr, C::audio, "wv", "com.wavpack.wv", "audio/x-wavpack"},
    {"pdf", nullptr, C::pdf, "pdf", "com.adobe.pdf", "application/pdf"},
    {"docx", nullptr, C::document, "docx", "org.openxmlformats.wordprocessingml.document", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"doc", nullptr, C::document, "doc", "com.microsoft.word.doc", "application/msword"},
    {"odt", nullptr, C::document, "odt", "org.oasis-open.opendocument.text", "application/vnd.oasis.opendocument.text"},
    {"rtf", nullptr, C::document, "rtf", "public.rtf", "application/rtf"},
    {"rtfd", nullptr, C::document, "rtfd", "com.apple.rtfd", "application/x-rtfd"},
    {"html", nullptr, C::document, "html htm xhtml", "public.html", "text/html"},
    {"webarchive", nullptr, C::document, "webarchive", "com.apple.webarchive", "application/x-webarchive"},
    {"txt", nullptr, C::document, "txt text", "public.plain-text", "text/plain"},
    {"md", nullptr, C::document, "md markdown mdown mkd", "net.daringfireball.markdown", "text/markdown"},
    {"pages", nullptr, C::document, "pages", "com.apple.iwork.pages.sffpages", "application/vnd.apple.pages"},
    {"textclipping", "CLIPPING", C::document, "textclipping", "com.apple.finder.textclipping", "application/x-textclipping"},
    {"epub", nullptr, C::ebook, "epub", "org.idpf.epub-container", "application/epub+zip"},
    {"pptx", nullptr, C::presentation, "pptx", "org.openxmlformats.presentationml.presentation", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {"ppt", nullptr, C::presentation, "ppt", "com.microsoft.powerpoint.ppt", "application/vnd.ms-powerpoint"},
    {"key", nullptr, C::presentation, "key", "com.apple.iwork.keynote.sffkey", "application/vnd.apple.keynote"},
    {"odp", nullptr, C::presentation, "odp", "org.oasis-open.opendocument.presentation", "application/vnd.oasis.opendocument.presentation"},
    {"xlsx", nullptr, C::spreadsheet, "xlsx", "org.openxmlformats.spreadsheetml.sheet", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"xls", nullptr, C::spreadsheet, "xls", "com.microsoft.excel.xls", "application/vnd.ms-excel"},
    {"ods", nullptr, C::spreadsheet, "ods", "org.oasis-open.opendocument.spreadsheet", "application/vnd.oasis.opendocument.spreadsheet"},
    {"numbers", nullptr, C::spreadsheet, "numbers", "com.apple.iwork.numbers.sffnumbers", "application/vnd.apple.numbers"},
    {"csv", nullptr, C::spreadsheet, "csv", "public.comma-separated-values-text", "text/csv"},
    {"tsv", nullptr, C::spreadsheet, "tsv tab", "public.tab-separated-values-text", "text/tab-separated-values"},
    {"srt", nullptr, C::subtitle, "srt", "org.matroska.srt", "application/x-subrip"},
    {"vtt", nullptr, C::subtitle, "vtt webvtt", "org.w3.webvtt", "text/vtt"},
    {"ass", nullptr, C::subtitle, "ass", "org.aegisub.ass", "text/x-ass"},
    {"ssa", nullptr, C::subtitle, "ssa", "org.aegisub.ssa", "text/x-ssa"},
    {"zip", nullptr, C::archive, "zip", "public.zip-archive", "application/zip"},
    {"tar", nullptr, C::archive, "tar", "public.tar-archive", "application/x-tar"},
    {"tar.gz", nullptr, C::archive, "tar.gz tgz", "org.gnu.gnu-zip-tar-archive", "application/x-compressed-tar"},
    {"tar.bz2", nullptr, C::archive, "tar.bz2 tbz tbz2", "public.tar-bzip2-archive", "application/x-bzip-compressed-tar"},
    {"tar.xz", nullptr, C::archive, "tar.xz txz", "org.tukaani.tar-xz-archive", "application/x-xz-compressed-tar"},
    {"gz", nullptr, C::archive, "gz gzip", "org.gnu.gnu-zip-archive", "application/gzip"},
    {"bz2", nullptr, C::archive, "bz2 bzip2", "public.bzip2-archive", "application/x-bzip"},
    {"xz", nullptr, C::archive, "xz", "org.tukaani.xz-archive", "application/x-xz"},
    {"7z", nullptr, C::archive, "7z", "org.7-zip.7-zip-archive", "application/x-7z-compressed"},
    {"rar", nullptr, C::archive, "rar", "com.rarlab.rar-archive", "application/vnd.rar"},
};
// clang-format on

} // namespace

const QList<FileFormat>& formatCatalogue()
{
    static const QList<FileFormat> catalogue = [] {
        QList<FileFormat> list;
        list.reserve(std::size(kRows));
        for (const Row& row : kRows) {
            const QString id = QString::fromLatin1(row.id);
            list.append(FileFormat{
                id,
                row.label ? QString::fromLatin1(row.label) : id.toUpper(),
                row.category,
                QString::fromLatin1(row.extensions).split(QLatin1Char(' ')),
                QString::fromLatin1(row.uti),
                QString::fromLatin1(row.mime),
            });
        }
        return list;
    }();
    return catalogue;
}

const QHash<QString, FileFormat>& formatsByExtension()
{
    static const QHash<QString, FileFormat> index = [] {
        QHash<QString, FileFormat> map;
        for (const FileFormat& format : formatCatalogue()) {
            for (const QString& ext : format.extensions) {
                if (!map.contains(ext))
                    map.insert(ext, format);
            }
        }
        return map;
    }();
    return index;
}

std::optional<FileFormat> formatForExtension(const QString& ext)
{
    const auto& index = formatsByExtension();
    const auto it = index.constFind(ext);
    if (it == index.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<FileFormat> formatForType(const QString& type)
{
    for (const FileFormat& format : formatCatalogue()) {
        if (format.uti == type || format.mimeType == type)
            return format;
    }
    return std::nullopt;
}

} // namespace qv

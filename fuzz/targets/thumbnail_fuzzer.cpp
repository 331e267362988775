// A cached thumbnail's text chunks (ThumbnailCache::pngTexts) and a thumbnailer's key file and
// command (Thumbnailers): whatever the bytes, the reading ends, every text has its keyword, and
// a command without field codes keeps its words as they are.
#include "FuzzSupport.h"

#include "platform/thumbnails/ThumbnailCache.h"
#include "platform/thumbnails/Thumbnailers.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QHash<QString, QString> texts = qv::ThumbnailCache::pngTexts(bytes);
    for (auto it = texts.begin(); it != texts.end(); ++it) {
        if (it.key().isEmpty())
            __builtin_trap();
    }
    if (const auto thumbnailer = qv::Thumbnailers::parse(bytes)) {
        const QStringList words =
            qv::Thumbnailers::command(thumbnailer->exec, QStringLiteral("/in"), "file:///in", QStringLiteral("/out"), 128);
        if (!thumbnailer->exec.contains(QLatin1Char('%')) && !thumbnailer->exec.contains(QLatin1Char('"'))
            && words != thumbnailer->exec.split(QRegularExpression(QStringLiteral("[ \\t]+")), Qt::SkipEmptyParts))
            __builtin_trap();
    }
    return 0;
}

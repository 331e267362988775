#include "engines/image/foreign/TiffStripDamage.h"

#include "engines/image/VipsPixels.h"

#include <vips/vips.h>

#include <QMutex>
#include <QMutexLocker>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <sys/stat.h>

namespace qv {

namespace {

std::atomic<quint64> damageWarnings{0};
QMutex lastWarningLock;
QString lastWarning;

void noteWarning(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data)
{
    const QString text = QString::fromUtf8(message ? message : "");
    if (TiffStripDamage::isDamageWarning(text)) {
        QMutexLocker lock(&lastWarningLock);
        lastWarning = text;
        ++damageWarnings;
    }
    g_log_default_handler(domain, level, message, data);
}

void listenOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { g_log_set_handler("VIPS", G_LOG_LEVEL_WARNING, noteWarning, nullptr); });
}

} // namespace

bool TiffStripDamage::isTiff(const QByteArray& nativePath)
{
    const char* loader = vips_foreign_find_load(nativePath.constData());
    if (!loader) {
        vips_error_clear();
        return false;
    }
    return qstrcmp(loader, "VipsForeignLoadTiffFile") == 0;
}

bool TiffStripDamage::isDamageWarning(const QString& message)
{
    static const char* const phrases[] = {"premature eol",       "premature eof",      "line length mismatch",
                                          "not terminated with", "bad code word",      "bad horizontal code",
                                          "bad vertical code",   "bad pass code",      "not enough data",
                                          "read error on strip", "read error on tile", "uncompressed data"};
    const QString lower = message.toLower();
    return std::any_of(std::begin(phrases), std::end(phrases),
                       [&](const char* phrase) { return lower.contains(QLatin1String(phrase)); });
}

std::optional<QString> TiffStripDamage::problem(const QByteArray& nativePath, int index)
{
    // A page found whole once is not decoded again for the next road through the same file
    // (a check, then the conversion).
    struct stat status {};
    const QByteArray key = ::stat(nativePath.constData(), &status) == 0
        ? nativePath + '\0' + QByteArray::number(index) + '\0' + QByteArray::number(qint64(status.st_size)) + '\0'
            + QByteArray::number(qint64(status.st_mtim.tv_sec)) + '.' + QByteArray::number(qint64(status.st_mtim.tv_nsec))
            + '\0' + QByteArray::number(quint64(status.st_ino))
        : QByteArray();
    static QMutex wholeLock;
    static QSet<QByteArray> whole;
    if (!key.isEmpty()) {
        QMutexLocker lock(&wholeLock);
        if (whole.contains(key))
            return std::nullopt;
    }
    listenOnce();
    const quint64 before = damageWarnings.load();
    VipsImage* opened = vips_image_new_from_file(nativePath.constData(), "access", VIPS_ACCESS_SEQUENTIAL, "page",
                                                 index, "fail_on", VIPS_FAIL_ON_ERROR, nullptr);
    double average = 0;
    VipsRef image(opened);
    if (!opened || vips_avg(image.get(), &average, nullptr) != 0) {
        const QString error = QString::fromUtf8(vips_error_buffer()).trimmed();
        vips_error_clear();
        return error.isEmpty() ? QStringLiteral("its pixels could not be decoded") : error;
    }
    if (damageWarnings.load() == before) {
        if (!key.isEmpty()) {
            QMutexLocker lock(&wholeLock);
            if (whole.size() > 1000)
                whole.clear();
            whole.insert(key);
        }
        return std::nullopt;
    }
    QMutexLocker lock(&lastWarningLock);
    return lastWarning;
}

} // namespace qv

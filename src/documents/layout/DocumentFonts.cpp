#include "documents/layout/DocumentFonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QHash>

#include <mutex>

namespace qv {
namespace {

bool familyExists(const QString& family)
{
    static std::mutex mutex;
    static QHash<QString, bool> known;
    const std::lock_guard lock(mutex);
    const auto it = known.constFind(family);
    if (it != known.constEnd())
        return *it;
    const bool exists = QFontDatabase::families().contains(family, Qt::CaseInsensitive);
    known.insert(family, exists);
    return exists;
}

bool isGenericFamily(const QString& family)
{
    static const QStringList generic{QStringLiteral("monospace"), QStringLiteral("mono"), QStringLiteral("sans-serif"),
                                     QStringLiteral("sans serif"), QStringLiteral("sans"), QStringLiteral("serif"),
                                     QStringLiteral("system-ui"), QStringLiteral("cursive"), QStringLiteral("fantasy")};
    return generic.contains(family.trimmed(), Qt::CaseInsensitive);
}

} // namespace

QString DocumentFonts::faceName(const QString& family)
{
    if (!isGenericFamily(family))
        return family;
    static std::mutex mutex;
    static QHash<QString, QString> resolved;
    const std::lock_guard lock(mutex);
    const QString key = family.trimmed().toLower();
    const auto it = resolved.constFind(key);
    if (it != resolved.constEnd())
        return *it;
    QFont font(family);
    if (key.startsWith(QLatin1String("mono")))
        font.setStyleHint(QFont::Monospace);
    else if (key == QLatin1String("serif"))
        font.setStyleHint(QFont::Serif);
    else
        font.setStyleHint(QFont::SansSerif);
    QString face = QFontInfo(font).family();
    if (face.isEmpty() || isGenericFamily(face))
        face = family;
    resolved.insert(key, face);
    return face;
}

QFont DocumentFonts::body(double pointSize)
{
    QFont font = familyExists(QStringLiteral("Helvetica Neue")) ? QFont(QStringLiteral("Helvetica Neue"))
                                                                : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setFamily(faceName(font.family()));
    font.setPointSizeF(pointSize);
    return font;
}

QFont DocumentFonts::code(double pointSize)
{
    QFont font = familyExists(QStringLiteral("Menlo")) ? QFont(QStringLiteral("Menlo"))
                                                       : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamily(faceName(font.family()));
    font.setWeight(QFont::Normal);
    font.setFixedPitch(true);
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(pointSize * 0.92);
    return font;
}

bool DocumentFonts::isFixedPitchFamily(const QString& family)
{
    static std::mutex mutex;
    static QHash<QString, bool> known;
    const std::lock_guard lock(mutex);
    const auto it = known.constFind(family);
    if (it != known.constEnd())
        return *it;
    const QString lower = family.toLower();
    bool fixed = lower == QLatin1String("monospace") || lower.contains(QLatin1String("mono"))
        || lower.contains(QLatin1String("courier")) || lower == QLatin1String("menlo")
        || lower == QLatin1String("consolas") || lower == QLatin1String("monaco");
    if (!fixed && familyExists(family))
        fixed = QFontDatabase::isFixedPitch(family);
    known.insert(family, fixed);
    return fixed;
}

} // namespace qv

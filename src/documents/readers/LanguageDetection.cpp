#include "documents/readers/LanguageDetection.h"

#include "documents/model/DocumentModel.h"

#include <cld2/public/compact_lang_det.h>

namespace qv {

namespace {

constexpr qsizetype sampleCharacters = 4000;

} // namespace

std::optional<QString> languageTagForDetectorCode(const QString& code)
{
    if (code.isEmpty() || code == QLatin1String("un") || code == QLatin1String("xxx")
        || code.startsWith(QLatin1String("xx-")))
        return std::nullopt;
    static const QHash<QString, QString> renamed{
        {"zh-TW", "zh-Hant"}, {"zh-Hant", "zh-Hant"}, {"zh-CN", "zh"}, {"iw", "he"}, {"jw", "jv"}, {"in", "id"},
        {"mo", "ro"},         {"sit-NP", "lif"},      {"zzb", "bo"},   {"zzp", "prs"},
    };
    return renamed.value(code, code);
}

QString detectTextLanguage(const QString& text)
{
    // Characters, not UTF-16 units: a pair is never cut in two.
    qsizetype end = 0;
    for (qsizetype count = 0; end < text.size() && count < sampleCharacters; ++count)
        end += (text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate()) ? 2 : 1;
    const QByteArray sample = text.left(end).toUtf8();
    bool reliable = false;
    int validBytes = 0;
    const CLD2::Language language = CLD2::DetectLanguageCheckUTF8(sample.constData(), int(sample.size()), true,
                                                                  &reliable, &validBytes);
    if (!reliable || language == CLD2::UNKNOWN_LANGUAGE)
        return QStringLiteral("en");
    return languageTagForDetectorCode(QString::fromLatin1(CLD2::LanguageCode(language))).value_or(QStringLiteral("en"));
}

QString detectLanguage(const QList<DocBlock>& blocks)
{
    DocumentModel model;
    model.blocks = blocks;
    return detectTextLanguage(model.plainText());
}

} // namespace qv

#pragma once

#include "documents/model/DocBlock.h"

namespace qv {

// The book's language as a BCP 47 tag, guessed from the first 4000 characters of the blocks'
// plain text; "en" when the guess is unknown or unreliable.
QString detectLanguage(const QList<DocBlock>& blocks);

// The same for a text.
QString detectTextLanguage(const QString& text);

// A language code of the detector as a BCP 47 tag: "zh-TW" is "zh-Hant", the retired "iw",
// "jw" and "in" are "he", "jv" and "id"; none for the detector's unknown codes.
std::optional<QString> languageTagForDetectorCode(const QString& code);

} // namespace qv

#pragma once

#include <QString>
#include <QStringList>

namespace qv {

// How much of a source's text a result keeps, word by word: what tells a conversion that
// dropped the text (a blank page, a model that left lines out) from one that laid it out anew.
// Words are runs of letters and digits, compared without case or accents' composition; order,
// spacing, hyphenation and punctuation do not count.
class WordsKept {
public:
    WordsKept() = delete;

    static QStringList words(const QString& text);
    // The share of the source's words (each as often as the source has it) found in the result;
    // 1 when the source has none.
    static double share(const QString& source, const QString& result);
    // The same for the letters and digits of those words, whatever the spacing between them.
    static double letterShare(const QString& source, const QString& result);
    // Whether a result keeps enough of a source that holds text to be called finished: most of
    // its words, or of their letters where the spacing changed, once it has a few to judge by;
    // nothing is never enough of something.
    static bool keepsText(const QString& source, const QString& result);
};

} // namespace qv

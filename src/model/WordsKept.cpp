#include "model/WordsKept.h"

#include <QHash>

#include <algorithm>

namespace qv {

namespace {

// Fewer words than this say too little of a source to judge a result by.
constexpr qsizetype fewestWords = 12;
// Layout may split or join some words (a hyphen at a line's end, a ligature); losing more than
// this is losing the text.
constexpr double keptEnough = 0.6;

} // namespace

QStringList WordsKept::words(const QString& text)
{
    QStringList found;
    QString word;
    const QString composed = text.normalized(QString::NormalizationForm_KC);
    for (const QChar c : composed) {
        if (c.isLetterOrNumber() || c.category() == QChar::Mark_NonSpacing) {
            word += c.toCaseFolded();
        } else if (!word.isEmpty()) {
            found.append(word);
            word.clear();
        }
    }
    if (!word.isEmpty())
        found.append(word);
    return found;
}

double WordsKept::share(const QString& source, const QString& result)
{
    const QStringList wanted = words(source);
    if (wanted.isEmpty())
        return 1.0;
    QHash<QString, qsizetype> available;
    for (const QString& word : words(result))
        ++available[word];
    qsizetype kept = 0;
    for (const QString& word : wanted) {
        auto it = available.find(word);
        if (it != available.end() && *it > 0) {
            --*it;
            ++kept;
        }
    }
    return double(kept) / double(wanted.size());
}

double WordsKept::letterShare(const QString& source, const QString& result)
{
    // The words run together: spacing that differs (a scan's text "A m e r i c a n" drawn anew
    // as "American") does not count.
    const QString wanted = words(source).join(QString());
    if (wanted.isEmpty())
        return 1.0;
    QHash<QChar, qsizetype> available;
    for (const QString& word : words(result))
        for (const QChar c : word)
            ++available[c];
    qsizetype kept = 0;
    for (const QChar c : wanted) {
        auto it = available.find(c);
        if (it != available.end() && *it > 0) {
            --*it;
            ++kept;
        }
    }
    return double(kept) / double(wanted.size());
}

bool WordsKept::keepsText(const QString& source, const QString& result)
{
    const qsizetype wanted = words(source).size();
    // A few words say too little to judge a result by, but none kept of them is none kept.
    if (wanted > 0 && words(result).isEmpty())
        return false;
    if (wanted < fewestWords)
        return true;
    return share(source, result) >= keptEnough || letterShare(source, result) >= keptEnough;
}

} // namespace qv

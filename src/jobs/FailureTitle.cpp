#include "jobs/FailureTitle.h"

#include <QHash>

namespace qv {

namespace {

// Each running title's first word and the verb it comes from. Spelling rules would get
// "Making", "Splitting" and "Normalizing" wrong one way or another; the words are few.
const QHash<QString, QString>& baseForms()
{
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> t;
        const char* pairs[][2] = {
            {"adding", "add"},           {"applying", "apply"},       {"changing", "change"},
            {"combining", "combine"},    {"compressing", "compress"}, {"converting", "convert"},
            {"copying", "copy"},         {"counting", "count"},       {"creating", "create"},
            {"cropping", "crop"},        {"cutting", "cut"},          {"decoding", "decode"},
            {"encoding", "encode"},      {"exporting", "export"},     {"extracting", "extract"},
            {"finding", "find"},         {"fixing", "fix"},           {"flattening", "flatten"},
            {"flipping", "flip"},        {"getting", "get"},          {"joining", "join"},
            {"making", "make"},          {"merging", "merge"},        {"mixing", "mix"},
            {"moving", "move"},          {"normalizing", "normalize"}, {"numbering", "number"},
            {"opening", "open"},         {"optimizing", "optimize"},  {"packing", "pack"},
            {"preparing", "prepare"},    {"protecting", "protect"},   {"reading", "read"},
            {"receiving", "receive"},    {"recognizing", "recognize"}, {"redacting", "redact"},
            {"reducing", "reduce"},      {"renaming", "rename"},      {"reordering", "reorder"},
            {"removing", "remove"},      {"repairing", "repair"},     {"replacing", "replace"},
            {"resampling", "resample"},  {"resizing", "resize"},      {"reversing", "reverse"},
            {"rotating", "rotate"},      {"saving", "save"},          {"scaling", "scale"},
            {"scanning", "scan"},        {"sending", "send"},         {"sharing", "share"},
            {"sharpening", "sharpen"},   {"shifting", "shift"},       {"shrinking", "shrink"},
            {"signing", "sign"},         {"sorting", "sort"},         {"splitting", "split"},
            {"stamping", "stamp"},       {"stripping", "strip"},      {"taking", "take"},
            {"testing", "test"},         {"transcribing", "transcribe"}, {"translating", "translate"},
            {"trimming", "trim"},        {"turning", "turn"},         {"unlocking", "unlock"},
            {"unpacking", "unpack"},     {"updating", "update"},      {"watermarking", "watermark"},
            {"working", "work"},         {"writing", "write"},        {"zipping", "zip"},
        };
        for (const auto& pair : pairs)
            t.insert(QString::fromLatin1(pair[0]), QString::fromLatin1(pair[1]));
        return t;
    }();
    return table;
}

QString lowerFirst(const QString& text)
{
    return text.isEmpty() ? text : text.left(1).toLower() + text.mid(1);
}

} // namespace

QString failureTitle(const QString& jobTitle)
{
    const QString couldNot = QStringLiteral("Couldn't ");
    const QString title = jobTitle.trimmed();
    if (title.isEmpty())
        return QStringLiteral("Couldn't finish");
    const qsizetype space = title.indexOf(QLatin1Char(' '));
    const QString first = space < 0 ? title : title.left(space);
    const QString rest = space < 0 ? QString() : title.mid(space);
    if (const auto it = baseForms().constFind(first.toLower()); it != baseForms().constEnd())
        return couldNot + *it + rest;
    if (first.endsWith(QLatin1String("ing"), Qt::CaseInsensitive))
        return couldNot + QStringLiteral("finish ") + lowerFirst(title);
    // Already a command ("Copy Path", "Convert to PNG").
    return couldNot + lowerFirst(title);
}

} // namespace qv

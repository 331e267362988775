#include "jobs/WorkerNotes.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace qv {

namespace {

// A number as the tools write it, grouped by the locale or not.
const QString number = QStringLiteral("\\d+(?:[.,\\x{00A0}\\x{202F}' ]\\d+)*");
const QString rate = QStringLiteral("\\d+(?:[.,]\\d+)? kHz");
const QString format = QStringLiteral("[A-Z0-9]{2,5}");
// A name from the user's file, quoted, as the archive notes give it.
const QString quoted = QStringLiteral("\\x{201C}[^\\x{201C}\\x{201D}\\n]{1,64}\\x{201D}");
const QString more = QStringLiteral("(?: and \\d+ more)?");

const QList<QRegularExpression>& toolForms()
{
    static const QList<QRegularExpression> forms = [] {
        const QStringList patterns{
            number + QStringLiteral(" % smaller"),
            QStringLiteral("Ringtones are limited to 40 s: used the first 40 s"),
            format + QStringLiteral(" can't hold ") + rate + QStringLiteral(": saved as ") + format,
            format + QStringLiteral(" can't use ") + rate + QStringLiteral(": used ") + rate,
            QStringLiteral("Some fonts or pictures of this PDF couldn't be drawn as they are: stand-ins were drawn in their place"),
            QStringLiteral("Text added to ") + number + QStringLiteral(" pages?"),
            QStringLiteral("\\x{0001}: ") + number + QStringLiteral(" unreadable characters? replaced with \\x{FFFD}"),
            QStringLiteral("\\x{0001}: ") + number + QStringLiteral(" unreadable subtitles? left out"),
            QStringLiteral("\\x{0001} is intact \\x{00B7} ") + number + QStringLiteral(" items?"),
            QStringLiteral("\\x{0001} has ") + number
                + QStringLiteral(" sheets: only the first, \\x{201C}[^\\x{201D}]{0,120}\\x{201D}, was converted\\.")
                + QStringLiteral("(?: Choose \\x{201C}One file per sheet\\x{201D} in the options for all of them\\.)?"),
            number + QStringLiteral(" links? pointing outside the archive (?:was|were) left out"),
            number + QStringLiteral(" items? without (?:a name|names) (?:was|were) saved under the archive's name"),
            quoted + QStringLiteral("(?:, ") + quoted + QStringLiteral("){0,2}") + more
                + QStringLiteral(" (?:was|were) left out: devices, pipes and sockets are not extracted"),
            quoted + QStringLiteral(" was saved as ") + quoted + QStringLiteral(": this disk can't hold its name"),
            number + QStringLiteral(" items were saved under other names, as this disk can't hold theirs: ") + quoted
                + QStringLiteral(" as ") + quoted + QStringLiteral("(?:, ") + quoted + QStringLiteral(" as ") + quoted
                + QStringLiteral("){0,2}") + more,
            quoted + QStringLiteral("(?:, ") + quoted + QStringLiteral("){0,2}") + more
                + QStringLiteral(" (?:was saved as a copy|were saved as copies) of what (?:it links|they link) to: this disk has no links"),
            number + QStringLiteral(" pictures? outside the document's folder (?:was|were) left out"),
            number + QStringLiteral(" cells? holds? (?:a formula|formulas) saved without (?:its|their) results?: (?:it was|they were) left empty"),
            number + QStringLiteral(" files?"),
            number + QStringLiteral(" codes"),
            QStringLiteral("Text copied to the clipboard"),
            number + QStringLiteral(" words \\x{00B7} ") + number + QStringLiteral(" characters \\x{00B7} ") + number
                + QStringLiteral(" min read"),
        };
        QList<QRegularExpression> made;
        for (const QString& pattern : patterns)
            made.append(QRegularExpression(QStringLiteral("\\A") + pattern + QStringLiteral("\\z"),
                                           QRegularExpression::UseUnicodePropertiesOption));
        return made;
    }();
    return forms;
}

bool hasControl(const QString& text, bool newlinesToo)
{
    for (const QChar c : text) {
        if (newlinesToo && (c == QLatin1Char('\n') || c == QLatin1Char('\t')))
            continue;
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph)
            return true;
    }
    return false;
}

QString withoutControls(QString text)
{
    text.removeIf([](QChar c) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\t'))
            return false;
        const QChar::Category category = c.category();
        return category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
    });
    return text;
}

} // namespace

bool WorkerNotes::isToolMessage(const QString& message, const WorkerProtocol::RunRequest& request)
{
    if (message.isEmpty() || message.size() > 600 || hasControl(message, false))
        return false;
    // What a code holds is the user's own file speaking, and only read-code tools say it.
    if (request.copiesText && message.startsWith(QLatin1String("Copied: ")) && message.size() <= 8 + 61)
        return true;
    QString shape = message;
    for (const FileInfo& file : request.files) {
        const QString name = file.name.isEmpty() ? file.url.fileName() : file.name;
        if (!name.isEmpty() && shape.startsWith(name + QLatin1Char(':')))
            shape = QChar(1) + shape.mid(name.size());
        else if (!name.isEmpty() && (shape.startsWith(name + QStringLiteral(" is intact")) || shape.startsWith(name + QStringLiteral(" has "))))
            shape = QChar(1) + shape.mid(name.size());
    }
    for (const QRegularExpression& form : toolForms()) {
        if (form.match(shape).hasMatch())
            return true;
    }
    return false;
}

QStringList WorkerNotes::messages(const QStringList& said, const WorkerProtocol::RunRequest& request)
{
    QStringList shown;
    for (const QString& message : said) {
        if (shown.size() < messageLimit && isToolMessage(message, request))
            shown.append(message);
    }
    return shown;
}

std::optional<QString> WorkerNotes::clipboard(const std::optional<QString>& said, const WorkerProtocol::RunRequest& request,
                                              const QList<QUrl>& placed)
{
    if (!request.copiesText || !said)
        return std::nullopt;
    for (const QUrl& result : placed) {
        if (!result.isLocalFile() || QFileInfo(result.toLocalFile()).suffix().compare(QLatin1String("txt"), Qt::CaseInsensitive) != 0)
            continue;
        // The application placed this file itself and nothing else writes it.
        QFile text(result.toLocalFile());
        if (!text.open(QIODevice::ReadOnly))
            return std::nullopt;
        return withoutControls(QString::fromUtf8(text.read(clipboardLimit * 4))).left(clipboardLimit);
    }
    return withoutControls(*said).left(clipboardLimit);
}

QString WorkerNotes::failure(const QString& said)
{
    static const QRegularExpression address(QStringLiteral("://|www\\.|@|\\b[a-z0-9-]+\\.(?:com|net|org|io|ru|cn|xyz|top|info|biz|me|ly|to|sh)\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (said.trimmed().isEmpty() || said.size() > 160 || hasControl(said, false) || address.match(said).hasMatch())
        return QStringLiteral("This file couldn't be read");
    return said;
}

QString WorkerNotes::details(const QString& said)
{
    return withoutControls(said).left(4000);
}

} // namespace qv

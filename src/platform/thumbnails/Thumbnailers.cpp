#include "platform/thumbnails/Thumbnailers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeType>
#include <QSet>
#include <QStandardPaths>

namespace qv {

namespace {

// The words of a command line as desktop entries quote them.
std::optional<QStringList> splitCommand(const QString& exec)
{
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                word += exec[++i];
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                word += c;
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            quoted = true;
            inWord = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inWord)
        words.append(word);
    return words;
}

bool programThere(const QString& program)
{
    if (program.isEmpty())
        return true;
    if (QDir::isAbsolutePath(program))
        return QFileInfo(program).isExecutable();
    return !QStandardPaths::findExecutable(program).isEmpty();
}

} // namespace

QStringList Thumbnailers::folders()
{
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        home = QDir::homePath() + QStringLiteral("/.local/share");
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList folders{home + QStringLiteral("/thumbnailers")};
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            folders.append(QDir::cleanPath(dir) + QStringLiteral("/thumbnailers"));
    }
    folders.removeDuplicates();
    return folders;
}

std::optional<Thumbnailers::Thumbnailer> Thumbnailers::parse(const QByteArray& keyFile)
{
    Thumbnailer thumbnailer;
    bool inGroup = false;
    for (const QByteArray& raw : keyFile.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Thumbnailer Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inGroup || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Exec"))
            thumbnailer.exec = value;
        else if (key == QLatin1String("TryExec"))
            thumbnailer.tryExec = value;
        else if (key == QLatin1String("MimeType"))
            thumbnailer.mimeTypes = value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    }
    if (thumbnailer.exec.isEmpty() || thumbnailer.mimeTypes.isEmpty())
        return std::nullopt;
    return thumbnailer;
}

QList<Thumbnailers::Thumbnailer> Thumbnailers::installed(const QStringList& folders)
{
    QList<Thumbnailer> found;
    QSet<QString> names;
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList({QStringLiteral("*.thumbnailer")}, QDir::Files, QDir::Name)) {
            if (names.contains(name))
                continue;
            names.insert(name);
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const std::optional<Thumbnailer> thumbnailer = parse(file.read(64 * 1024));
            if (!thumbnailer)
                continue;
            const std::optional<QStringList> words = splitCommand(thumbnailer->exec);
            if (!words || words->isEmpty() || !programThere(thumbnailer->tryExec) || !programThere(words->first()))
                continue;
            found.append(*thumbnailer);
        }
    }
    return found;
}

std::optional<Thumbnailers::Thumbnailer> Thumbnailers::forType(const QList<Thumbnailer>& thumbnailers,
                                                                const QMimeType& type)
{
    if (!type.isValid())
        return std::nullopt;
    const QStringList names = QStringList{type.name()} + type.aliases();
    for (const Thumbnailer& thumbnailer : thumbnailers) {
        for (const QString& name : names) {
            if (thumbnailer.mimeTypes.contains(name))
                return thumbnailer;
        }
    }
    for (const QString& ancestor : type.allAncestors()) {
        // Every file is a kind of data, and every text a kind of plain text: a thumbnailer of
        // those is for files of those types, not for every kind of them.
        if (ancestor == QLatin1String("application/octet-stream") || ancestor == QLatin1String("text/plain"))
            continue;
        for (const Thumbnailer& thumbnailer : thumbnailers) {
            if (thumbnailer.mimeTypes.contains(ancestor))
                return thumbnailer;
        }
    }
    return std::nullopt;
}

QStringList Thumbnailers::command(const QString& exec, const QString& input, const QByteArray& inputUri,
                                  const QString& output, int size)
{
    const std::optional<QStringList> words = splitCommand(exec);
    if (!words || words->isEmpty())
        return {};
    QStringList filled;
    for (const QString& word : *words) {
        QString out;
        for (qsizetype i = 0; i < word.size(); ++i) {
            if (word[i] != QLatin1Char('%') || i + 1 >= word.size()) {
                out += word[i];
                continue;
            }
            switch (word[++i].unicode()) {
            case 'i': out += input; break;
            case 'u': out += QString::fromLatin1(inputUri); break;
            case 'o': out += output; break;
            case 's': out += QString::number(size); break;
            case '%': out += QLatin1Char('%'); break;
            default: break; // codes of other programs' entries mean nothing here
            }
        }
        filled.append(out);
    }
    return filled;
}

} // namespace qv

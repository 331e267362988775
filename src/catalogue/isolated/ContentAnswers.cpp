#include "catalogue/isolated/ContentAnswers.h"

#include <QFile>

#include <sys/stat.h>

namespace qv {

namespace {

QString keyOf(const QString& question, const QString& path)
{
    return question + QChar(u'\0') + path;
}

} // namespace

ContentAnswers& ContentAnswers::shared()
{
    static ContentAnswers answers;
    return answers;
}

QString ContentAnswers::identityOf(const QString& path)
{
    // Followed as the worker follows it; a write changes the change time whatever it sets.
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return QString();
    return QStringLiteral("%1:%2:%3:%4.%5:%6.%7")
        .arg(status.st_dev)
        .arg(status.st_ino)
        .arg(status.st_size)
        .arg(status.st_mtim.tv_sec)
        .arg(status.st_mtim.tv_nsec)
        .arg(status.st_ctim.tv_sec)
        .arg(status.st_ctim.tv_nsec);
}

void ContentAnswers::store(const QString& question, const QString& path, const QJsonObject& answer)
{
    const QString identity = identityOf(path);
    if (identity.isEmpty())
        return;
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard lock(m_mutex);
    if (m_answers.size() >= keptAtMost) {
        m_answers.removeIf([now](const auto& kept) { return now - kept.value().at > keptFor; });
        if (m_answers.size() >= keptAtMost)
            m_answers.clear();
    }
    m_answers.insert(keyOf(question, path), Kept{identity, answer, now});
}

std::optional<QJsonObject> ContentAnswers::find(const QString& question, const QString& path)
{
    const QString key = keyOf(question, path);
    Kept kept;
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_answers.constFind(key);
        if (it == m_answers.constEnd())
            return std::nullopt;
        kept = *it;
    }
    if (std::chrono::steady_clock::now() - kept.at > keptFor || identityOf(path) != kept.identity) {
        const std::lock_guard lock(m_mutex);
        m_answers.remove(key);
        return std::nullopt;
    }
    return kept.answer;
}

void ContentAnswers::clear()
{
    const std::lock_guard lock(m_mutex);
    m_answers.clear();
}

} // namespace qv

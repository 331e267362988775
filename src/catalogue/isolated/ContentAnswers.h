#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <mutex>
#include <optional>

namespace qv {

// Workers' answers about files' contents (a PDF's lock, a picture's frames), kept a short while
// so that the wheel, the drop and the job do not each ask again. An answer holds only while the
// file is the one asked about: the same inode, size, and change and modification times.
class ContentAnswers {
public:
    static ContentAnswers& shared();

    void store(const QString& question, const QString& path, const QJsonObject& answer);
    std::optional<QJsonObject> find(const QString& question, const QString& path);
    void clear();

    // How long an answer is kept, and how many at most.
    static constexpr std::chrono::seconds keptFor{120};
    static constexpr qsizetype keptAtMost = 100'000;

private:
    struct Kept {
        QString identity;
        QJsonObject answer;
        std::chrono::steady_clock::time_point at;
    };
    static QString identityOf(const QString& path);

    std::mutex m_mutex;
    QHash<QString, Kept> m_answers;
};

} // namespace qv

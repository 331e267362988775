#include "jobs/ResultPlacement.h"

#include "model/EngineError.h"
#include "model/JobNotes.h"
#include "model/SystemError.h"
#include "platform/FileItems.h"
#include "platform/TemporaryRoot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <sys/stat.h>

namespace qv {

namespace {

bool isBelow(const QString& path, const QString& folder)
{
    return !folder.isEmpty() && path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

ResultPlacement::ResultPlacement(const WorkerProtocol::RunRequest& request)
    : m_notes(std::make_shared<JobNotes>())
{
    const QUrl source = request.files.isEmpty() ? appTemporaryRoot() : request.files.first().url;
    m_planner.emplace(source, request.settings, m_notes);
    // The planner's work folder lies where a rename reaches the destination: in the temporary
    // root, the worker's own folder does as well.
    const QString work = QDir::cleanPath(m_planner->workDirectory().toLocalFile());
    if (!TemporaryRoot::contains(work))
        m_shared = work;
}

ResultPlacement::~ResultPlacement()
{
    removeItemFolder();
}

QString ResultPlacement::sharedFolder() const
{
    return m_shared;
}

QString ResultPlacement::prepare(const QString& workerFolder)
{
    removeItemFolder();
    const QString base = m_shared.isEmpty() ? QDir::cleanPath(workerFolder) : m_shared;
    m_itemFolder = base + QStringLiteral("/item-%1-").arg(++m_attempts) + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (::mkdir(QFile::encodeName(m_itemFolder).constData(), 0700) != 0) {
        const int error = errno;
        m_itemFolder.clear();
        throw SystemError::fromErrno(error, QStringLiteral("Cannot create a work folder in ") + base);
    }
    return m_itemFolder;
}

void ResultPlacement::removeItemFolder()
{
    if (!m_itemFolder.isEmpty())
        FileItems::remove(m_itemFolder);
    m_itemFolder.clear();
}

QList<QUrl> ResultPlacement::place(const QList<QUrl>& outputs, const QList<WorkerProtocol::StagedResult>& staged,
                                   JobNotes& notes)
{
    QHash<QString, QUrl> placed;
    for (const WorkerProtocol::StagedResult& result : staged) {
        // Taken at the worker's word only for what lies in its item's folder, one result to a
        // folder, and only a file or a folder: never a link, which would have us touch or move
        // whatever it points to.
        const QString path = QDir::cleanPath(result.path);
        const QFileInfo info(path);
        struct stat status {};
        if (!isBelow(path, m_itemFolder) || QFileInfo(info.absolutePath()).absolutePath() != m_itemFolder
            || ::lstat(QFile::encodeName(path).constData(), &status) != 0
            || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)))
            throw EngineError(QStringLiteral("This file couldn't be read"),
                              QStringLiteral("The worker named a result it did not leave in its work folder: ") + path);
        placed.insert(path, m_planner->deliver(QUrl::fromLocalFile(path), result.baseName, result.extension));
    }
    QList<QUrl> final;
    for (const QUrl& output : outputs) {
        const QString path = QDir::cleanPath(output.toLocalFile());
        if (placed.contains(path))
            final.append(placed.value(path));
        else if (!output.isLocalFile() || !isBelow(path, m_itemFolder))
            final.append(output);
    }
    for (const QString& message : m_notes->messages())
        notes.addMessage(message);
    removeItemFolder();
    return final;
}

} // namespace qv
